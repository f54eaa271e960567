// Damaged and hostile images through the command line: every command ends
// with a clear error or a clean result, never a crash or a hang, and a job
// refused on a damaged volume leaves it exactly as it was. One table: each
// row damages a fresh image as a fault once found did, and says what each
// command must answer.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <functional>

#include "tests/support/image_damage.h"
#include "tests/volume/ntfsimage_fixture.h"
#include "volume/error_codes.h"
#include "tests/support/image_writing.h"

namespace shardix::test {
namespace {

struct Outcome {
  int status;  // exit status; -1 for a signal, 124 when it ran out of time
  std::string text;
};

Outcome RunShardix(const std::string& words) {
  // A hang shows as exit status 124 instead of stalling the suite.
  const std::string command = "timeout 60 " + std::string(SHARDIX_CLI) + " " + words + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Outcome outcome{-1, ""};
  if (!pipe) return outcome;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) outcome.text.append(buffer, got);
  const int status = pclose(pipe);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return outcome;
}

// A judge we did not write: an ntfs-3g tool run on the image, whose exit
// status is not always telling.
Outcome RunTool(const std::string& words) {
  const std::string command = "timeout 60 " + words + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  Outcome outcome{-1, ""};
  if (!pipe) return outcome;
  char buffer[4096];
  while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) outcome.text.append(buffer, got);
  pclose(pipe);
  return outcome;
}

constexpr int kAnyStatus = -2;

struct Expect {
  std::string words;   // "IMG" stands for the image; "tool:" runs an ntfs-3g tool
  int status;          // the exit status the command must end with, or kAnyStatus
  std::string says;    // a text its output must hold ("" for any)
};

// /c.bin, 400 clusters cut into 400 pieces by the fragment job: too many
// extents for one record, so its runs need an attribute list.
constexpr const char* kListedFile = "fragment IMG/c.bin --count 400 --method scattered --seed 7";

struct DamageCase {
  const char* fault;
  const char* before_damage;  // a command run on the image first, or ""; kListedFile writes /c.bin
  // Damages the image's bytes; `a_record` is the byte offset of /a.bin's record.
  std::function<void(ImageBytes& image, uint64_t a_record)> damage;
  std::vector<Expect> expect;
};

constexpr uint32_t kData = 0x80;

// The attribute length that wraps a 32-bit `offset + length` back to the
// record's first attribute.
void WrapDataLength(ImageBytes& image, uint64_t record) {
  const uint64_t data = image.FindAttribute(record, kData);
  const uint64_t first = record + image.Get(record + 0x14, 2);
  image.Put(data + 4, 4, (uint64_t{1} << 32) - (data - first));
}

// Rewrites /a.bin's runlist as one run of 12 clusters at `lcn` (7 bytes wide),
// growing the attribute by 8 bytes for the longer mapping pairs.
void PlaceRunAt(ImageBytes& image, uint64_t record, uint64_t lcn) {
  const uint64_t data = image.FindAttribute(record, kData);
  const uint64_t length = image.Get(data + 4, 4);
  const uint64_t pairs = data + image.Get(data + 0x20, 2);
  image.Put(pairs, 1, 0x71);
  image.Put(pairs + 1, 1, 12);
  image.Put(pairs + 2, 7, lcn);
  for (uint64_t at = pairs + 9; at < data + length + 8; ++at) image.Put(at, 1, 0);
  image.Put(data + 4, 4, length + 8);
  image.Put(data + length + 8, 4, 0xffffffff);
  image.Put(record + 0x18, 4, image.Get(record + 0x18, 4) + 8);
}

// $MFT's initialized size in the record and in its mirror.
void HugeMftInitializedSize(ImageBytes& image) {
  for (uint64_t record : {image.RecordOffset(0), image.mirror_offset()}) {
    const uint64_t data = image.FindAttribute(record, kData);
    image.Put(data + 0x38, 8, uint64_t{1} << 62);
  }
}

const std::vector<DamageCase>& Cases() {
  static const std::vector<DamageCase> cases = {
      {"record header says more bytes in use than the record holds", "",
       [](ImageBytes& image, uint64_t a) {
         image.Put(a + 0x18, 4, 0x10000);
         image.Put(a + 0x14, 2, 0xfff0);
       },
       {{"check IMG", 1, "bytes in use exceed the record"}, {"analyze IMG/a.bin", 1, ""}}},
      {"attribute name outside its attribute", "",
       [](ImageBytes& image, uint64_t a) {
         const uint64_t data = image.FindAttribute(a, kData);
         image.Put(data + 9, 1, 0xff);
         image.Put(data + 0x0a, 2, 0xfff0);
       },
       {{"check IMG", 1, "attribute name outside the attribute"}}},
      {"attribute length wraps back to the first attribute", "",
       [](ImageBytes& image, uint64_t a) { WrapDataLength(image, a); },
       {{"check IMG", 1, "attribute of bad length"}}},
      {"$MFT initialized size of 2^62", "",
       [](ImageBytes& image, uint64_t) { HugeMftInitializedSize(image); },
       {{"check IMG", 1, "$MFT's sizes exceed the device"}, {"volume-info IMG", 1, "corrupted"}}},
      {"boot sector claims 2^32 - 8 clusters", "",
       [](ImageBytes& image, uint64_t) {
         image.Put(0x28, 8, ((uint64_t{1} << 32) - 8) * image.Get(0x0d, 1));
       },
       {{"check IMG", 1, "more than the device holds"},
        {"volume-info IMG", 1, "corrupted"},
        {"analyze IMG/a.bin", 1, "corrupted"}}},
      {"boot sector claims 2^62 sectors", "",
       [](ImageBytes& image, uint64_t) { image.Put(0x28, 8, uint64_t{1} << 62); },
       {{"check IMG", 1, ""}, {"volume-info IMG", 1, ""}}},
      {"runlist at LCN 2^52", "",
       [](ImageBytes& image, uint64_t a) { PlaceRunAt(image, a, uint64_t{1} << 52); },
       {{"analyze IMG/a.bin", 1, "corrupted"},
        {"fragment IMG/a.bin --count 4 --seed 1", 1, ""},
        {"defragment IMG/a.bin", 1, ""},
        {"check IMG", 1, "ends past the volume"}}},
      {"one zeroed $Bitmap sector", "fragment IMG/a.bin --count 4 --seed 1",
       [](ImageBytes& image, uint64_t) {
         for (int i = 0; i < 512; ++i) image.Put(image.BitmapOffset() + i, 1, 0);
       },
       {{"fragment IMG/b.bin --count 4 --seed 1", 1, "free-space map disagrees with its files"},
        {"defragment IMG/a.bin", 1, "free-space map disagrees with its files"},
        {"check IMG", 1, "in use but marked free"}}},
      {"a file sharing clusters with $MFT", "",
       [](ImageBytes& image, uint64_t a) {
         PlaceRunAt(image, a, image.mft_offset() / image.cluster_size());
       },
       {{"fragment IMG/a.bin --count 4 --seed 1", 1, "free-space map disagrees with its files"},
        {"defragment IMG/a.bin", 1, "2 or more fragments"},  // nothing to move
        {"check IMG", 1, "Cross-linked clusters: 12"}}},
      {"a path inside the image that does not exist", "",
       [](ImageBytes&, uint64_t) {},
       {{"volume-info IMG/nonexistent", 1, "/nonexistent: No such file or directory"},
        {"analyze IMG/nonexistent", 1, "/nonexistent: No such file or directory"}}},
      {"one attribute list entry's length changed", kListedFile,
       [](ImageBytes& image, uint64_t) {
         // The entry of c.bin's second $DATA extent, made twice as long:
         // readers then skip the entry after it.
         const uint64_t record = image.ListedFileRecord();
         for (uint64_t entry : image.ListEntries(record)) {
           if (image.Get(entry, 4) == kData && image.Get(entry + 8, 8) != 0) {
             image.Put(entry + 4, 2, 2 * image.Get(entry + 4, 2));
             return;
           }
         }
         FAIL() << "no second $DATA extent in c.bin's attribute list";
       },
       {{"tool:ntfscat -f IMG /c.bin", kAnyStatus, "Run lists overlap"},
        {"check IMG", 1, "Unreadable file: /c.bin (record "},
        {"analyze IMG/c.bin", 1, ""},
        {"fragment IMG/b.bin --count 4 --seed 1", 1, "corrupted and unreadable"},
        {"defragment IMG/c.bin", 1, ""}}},
      {"the sequence number of an attribute list entry's record reference zeroed", kListedFile,
       [](ImageBytes& image, uint64_t) {
         // The entry of c.bin's first $DATA extent: the library takes 0 as
         // a stale reference to the record it is reading, unlike 0 elsewhere.
         const uint64_t record = image.ListedFileRecord();
         for (uint64_t entry : image.ListEntries(record)) {
           if (image.Get(entry, 4) == kData && image.Get(entry + 8, 8) == 0) {
             image.Put(entry + 0x16, 2, 0);
             return;
           }
         }
         FAIL() << "no $DATA extent in c.bin's attribute list";
       },
       {{"tool:ntfscat -f IMG /c.bin", kAnyStatus, "stale"},
        {"check IMG", 1, "by a stale reference"},
        {"fragment IMG/a.bin --count 4 --seed 1", 1, "corrupted and unreadable"}}},
      {"backup boot sector differs from the primary", "",
       [](ImageBytes& image, uint64_t) {
         const uint64_t at = image.BackupBootOffset() + 0x100;  // in the boot code
         image.Put(at, 1, image.Get(at, 1) ^ 0x5a);
       },
       {{"tool:ntfsfix -n IMG", kAnyStatus, "alternate boot sector... BAD"},
        {"check IMG", 1, "Boot sector: the backup boot sector (sector "},
        {"fragment IMG/a.bin --count 4 --seed 1", 1, "corrupted and unreadable"}}},
  };
  return cases;
}

class DamagedImageTest : public ::testing::TestWithParam<size_t> {};

TEST_P(DamagedImageTest, EndsWithAClearAnswerAndChangesNothing) {
  const DamageCase& row = Cases()[GetParam()];
  SCOPED_TRACE(row.fault);
  ScratchDir scratch;
  const std::string image = scratch.path() + "/damaged.img";
  ASSERT_TRUE(MakeNtfsImage(image, 8u << 20, 4096));
  std::string error;
  ASSERT_EQ(WriteFileToImage(image, "/a.bin", PseudoRandomBytes(12 * 4096, 1), &error),
            kErrorSuccess) << error;
  ASSERT_EQ(WriteFileToImage(image, "/b.bin", PseudoRandomBytes(6 * 4096, 2), &error),
            kErrorSuccess) << error;
  const int64_t a_number = NtfsinfoRecordNumber(image, "/a.bin");
  ASSERT_GT(a_number, 0);

  if (std::strcmp(row.before_damage, kListedFile) == 0) {
    ASSERT_EQ(WriteFileToImage(image, "/c.bin", PseudoRandomBytes(400 * 4096, 3), &error),
              kErrorSuccess) << error;
  }
  if (*row.before_damage) {
    std::string words = row.before_damage;
    words.replace(words.find("IMG"), 3, ShellQuote(image));
    ASSERT_EQ(RunShardix(words).status, 0) << words;
  }
  ImageBytes bytes(ReadHostFile(image));
  ASSERT_TRUE(bytes.ok());
  row.damage(bytes, bytes.RecordOffset(static_cast<uint64_t>(a_number)));
  ASSERT_TRUE(WriteHostBytes(image, 0, bytes.bytes()));

  for (const Expect& expect : row.expect) {
    std::string words = expect.words;
    words.replace(words.find("IMG"), 3, ShellQuote(image));
    const bool tool = words.rfind("tool:", 0) == 0;
    const Outcome outcome = tool ? RunTool(words.substr(5)) : RunShardix(words);
    if (expect.status != kAnyStatus) {
      EXPECT_EQ(outcome.status, expect.status) << words << "\n" << outcome.text;
    }
    EXPECT_NE(outcome.text.find(expect.says), std::string::npos) << words << "\n" << outcome.text;
    EXPECT_EQ(outcome.text.find("runtime error"), std::string::npos) << outcome.text;
    // A failure is said once, however many layers saw it (check's unclean
    // report is its result, not an error).
    if (!tool && outcome.status == 1 && words.rfind("check", 0) != 0) {
      int errors = 0;
      for (std::size_t at = 0; (at = outcome.text.find("shardix: ", at)) != std::string::npos; ++at)
        errors += outcome.text.compare(at, 18, "shardix: warning: ") != 0;
      EXPECT_EQ(errors, 1) << words << "\n" << outcome.text;
    }
  }
  // A refused job wrote nothing: every byte of the image is as damaged,
  // judged by the bytes themselves rather than by our own check.
  EXPECT_TRUE(ReadHostFile(image) == bytes.bytes()) << "the image changed";
}

INSTANTIATE_TEST_SUITE_P(Faults, DamagedImageTest, ::testing::Range<size_t>(0, 13));

// The attribute list check passes what readers read: a file in 400 pieces
// is clean, can be gathered again, and stays clean.
TEST(ListedFileTest, AFileWithAnAttributeListChecksCleanAndJobsRun) {
  ScratchDir scratch;
  const std::string image = scratch.path() + "/listed.img";
  ASSERT_TRUE(MakeNtfsImage(image, 8u << 20, 4096));
  std::string error;
  const std::vector<uint8_t> bytes = PseudoRandomBytes(400 * 4096, 3);
  ASSERT_EQ(WriteFileToImage(image, "/c.bin", bytes, &error), kErrorSuccess) << error;
  auto on_image = [&](std::string words) { return words.replace(words.find("IMG"), 3, ShellQuote(image)); };
  ASSERT_EQ(RunShardix(on_image(kListedFile)).status, 0);
  ImageBytes listed(ReadHostFile(image));
  ASSERT_FALSE(listed.ListEntries(listed.ListedFileRecord()).empty()) << "no attribute list made";
  for (const char* words : {"check IMG", "defragment IMG/c.bin", "check IMG"}) {
    const Outcome outcome = RunShardix(on_image(words));
    EXPECT_EQ(outcome.status, 0) << words << "\n" << outcome.text;
  }
  EXPECT_TRUE(NtfscatBytes(image, "/c.bin") == bytes);
}

TEST(HostileArgumentsTest, PipesAndDevicesAreRefusedAtOnce) {
  ScratchDir scratch;
  const std::string fifo = scratch.path() + "/pipe";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& words : {"check " + fifo, "analyze " + fifo + "/a.bin",
                                  "volume-info " + fifo, std::string("check /dev/zero")}) {
    const Outcome outcome = RunShardix(words);
    EXPECT_EQ(outcome.status, 1) << words << "\n" << outcome.text;
    EXPECT_NE(outcome.text.find("pipe, socket or character device"), std::string::npos)
        << words << "\n" << outcome.text;
  }
}

}  // namespace
}  // namespace shardix::test
