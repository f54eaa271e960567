// The map beside a scenario image (OUT.img.map.svg), judged by readers we
// did not write: Python's XML parser holds it against the manifest, and
// rsvg-convert renders it for a pixel check read back with libpng.
#include <gtest/gtest.h>

#include <png.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "scenario/layout_map_svg.h"
#include "tests/volume/ntfsimage_fixture.h"

namespace shardix::test {
namespace {

namespace fs = std::filesystem;

int Shardix(const std::string& words, std::string* out) {
  return RunCommandStatus("timeout 120 " + std::string(SHARDIX_CLI) + " " + words, out);
}

// map_check.py's report, and whether it found the map sound.
std::string MapCheck(const std::string& map, const std::string& manifest, bool* ok) {
  return RunCommand("python3 " SHARDIX_SOURCE_DIR "/tests/cli/map_check.py " + ShellQuote(map) +
                        (manifest.empty() ? "" : " " + ShellQuote(manifest)) + " 2>&1",
                    ok);
}

std::vector<std::string> LinesStarting(const std::string& text, const std::string& start) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.rfind(start, 0) == 0) lines.push_back(line.substr(start.size()));
  return lines;
}

// A braided and a nested pair, a name XML must escape, a deleted file and
// copies a layout left behind.
const std::string kOdd = "/b<&>'\\\".bin";
const std::string kRecipe = R"({"volume": {"size": "4M", "freed": "keep"}, "seed": 7, "steps": [
  {"op": "create", "path": "/a.jpg", "size": 40960, "content": "jpeg"},
  {"op": "create", "path": ")" + kOdd + R"(", "size": 24576},
  {"op": "create", "path": "/c.bin", "size": 16384},
  {"op": "create", "path": "/gone.bin", "size": 20480},
  {"op": "layout", "split": {"/a.jpg": 3, ")" + kOdd + R"(": 2},
   "arrange": ["/a.jpg#1", ")" + kOdd + R"(#1", "/a.jpg#2", "/c.bin", "/a.jpg#3", ")" + kOdd + R"(#2"]},
  {"op": "delete", "path": "/gone.bin"}]})";

TEST(ScenarioMap, EachFileIsDrawnAndRenderedInItsLegendColour) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/map.json";
  std::ofstream(recipe) << kRecipe;
  std::string out;
  for (const char* folder : {"/first", "/second"}) {
    fs::create_directories(scratch.path() + folder);
    ASSERT_EQ(Shardix("scenario --quiet " + ShellQuote(recipe) + " " + scratch.path() + folder + "/out.img", &out), 0)
        << out;
  }
  const std::string map = scratch.path() + "/first/out.img.map.svg";
  EXPECT_EQ(ReadText(map), ReadText(scratch.path() + "/second/out.img.map.svg")) << "the same build drew another map";

  bool ok = false;
  const std::string report = MapCheck(map, scratch.path() + "/first/out.img.manifest.json", &ok);
  ASSERT_TRUE(ok) << report;
  EXPECT_EQ(LinesStarting(report, "legend /b<&>'\".bin \xE2\x80\x94 allocated, 2 pieces").size(), 1u) << report;
  const std::vector<std::string> probes = LinesStarting(report, "probe #");
  ASSERT_EQ(probes.size(), 3u) << report;

  const std::string png_path = scratch.path() + "/map.png";
  RunCommand("rsvg-convert " + ShellQuote(map) + " -o " + ShellQuote(png_path), &ok);
  ASSERT_TRUE(ok) << "rsvg-convert failed (librsvg2-bin: scripts/setup-deps.sh native)";
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, png_path.c_str())) << image.message;
  image.format = PNG_FORMAT_RGB;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) << image.message;
  for (const std::string& probe : probes) {
    unsigned colour = 0, x = 0, y = 0;
    ASSERT_EQ(std::sscanf(probe.c_str(), "%x %u %u", &colour, &x, &y), 3) << probe;
    ASSERT_LT(x, image.width);
    ASSERT_LT(y, image.height);
    const uint8_t* pixel = &pixels[(static_cast<std::size_t>(y) * image.width + x) * 3];
    EXPECT_EQ((pixel[0] << 16) | (pixel[1] << 8) | pixel[2], static_cast<int>(colour)) << probe;
  }
}

// The map goes with its image: replaced with it, kept with an image a failed
// build leaves as it was, never left half-written or from a failed build.
TEST(ScenarioMap, GoesAndComesWithItsImage) {
  ScratchDir scratch;
  const std::string recipe = scratch.path() + "/r.json", image = scratch.path() + "/out.img";
  const auto leftovers = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch.path()))
      if (entry.path().filename().string().find(".building-") != std::string::npos) names.push_back(entry.path());
    return names;
  };
  std::ofstream(recipe) << R"({"volume": {"size": "8M"}, "seed": 1, "steps": [
    {"op": "create", "path": "/fills", "size": 8200000}]})";
  std::string out;
  EXPECT_EQ(Shardix("scenario " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 1) << out;
  EXPECT_FALSE(fs::exists(image + ".map.svg"));

  std::ofstream(image) << "earlier";
  std::ofstream(image + ".map.svg") << "<earlier/>";
  EXPECT_EQ(Shardix("scenario --force " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 1) << out;
  EXPECT_EQ(ReadText(image + ".map.svg"), "<earlier/>");

  std::ofstream(recipe) << R"({"volume": {"size": "8M"}, "seed": 1, "steps": [
    {"op": "create", "path": "/small", "size": 8192}]})";
  ASSERT_EQ(Shardix("scenario --force " + ShellQuote(recipe) + " " + ShellQuote(image), &out), 0) << out;
  EXPECT_NE(ReadText(image + ".map.svg").find("/small"), std::string::npos);
  EXPECT_EQ(leftovers(), std::vector<std::string>{});

  // Each file reaches the disk before it takes its name, and the build says
  // what it made only after the last flush.
  const std::string trace = scratch.path() + "/trace";
  // A sanitizer's leak check cannot run under ptrace; nothing else changes.
  ASSERT_EQ(RunCommandStatus("ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq -e trace=fsync,rename,renameat,renameat2,write -o " + ShellQuote(trace) +
                                 " " + SHARDIX_CLI + " scenario --force " + ShellQuote(recipe) + " " + ShellQuote(image),
                             &out), 0) << out;
  std::istringstream lines(ReadText(trace));
  bool flushed = false, said = false;
  int renames = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" fsync(") != std::string::npos) {
      flushed = true;
      EXPECT_FALSE(said) << line;
    } else if (line.find(" rename") != std::string::npos && line.find(".building-") != std::string::npos) {
      EXPECT_TRUE(flushed) << line;
      flushed = false;
      ++renames;
    } else if (line.find("write(1, \"Made ") != std::string::npos) {
      said = true;
    }
  }
  EXPECT_EQ(renames, 4);  // the image, both manifests and the map
  EXPECT_TRUE(said);
}

// A volume too large to draw cluster by cluster: the stretch its files lie
// in, a cell for several clusters, and the picture stays of a size to view.
// Names that are not Unicode, or hold what XML may not, stay well-formed.
TEST(ScenarioMap, LargeVolumesAndOddNamesStayAPictureOfSensibleXml) {
  ScratchDir scratch;
  scenario::ScenarioResult result;
  result.geometry = {4096, 512, 50'000'000};
  result.bitmap.assign(50'000'000 / 8, 0xFF);
  const std::vector<std::string> names = {"/lone \xED\xA0\x80.bin", "/stray \xFF\xFE", "/ctl \x01\x1F",
                                          "/nonchar \xEF\xBF\xBF", "/a<&>'\"b"};
  int64_t lcn = 2'000'000;
  for (const std::string& name : names) {
    scenario::FileRecord file;
    file.path = name;
    file.runs = {{0, lcn, 1000}, {1000, lcn + 5'000'000, 3000}};
    file.notes = {"note of " + name};
    lcn += 1'000'000;
    result.files.push_back(file);
  }
  const std::string map = scratch.path() + "/large.svg";
  std::ofstream(map, std::ios::binary) << scenario::LayoutMapSvg(result, "large \xFF.img");
  bool ok = false;
  const std::string report = MapCheck(map, "", &ok);
  ASSERT_TRUE(ok) << report;
  ASSERT_EQ(LinesStarting(report, "per_cell ").size(), 1u) << report;
  const long per_cell = std::stol(LinesStarting(report, "per_cell ")[0]);
  EXPECT_GE(per_cell, 9'000'000 / 8192) << "more cells than a picture can hold";
  EXPECT_LE(per_cell, 50'000'000 / 8192) << "the whole volume drawn, not where its files lie";
  EXPECT_LE(std::stol(LinesStarting(report, "height ")[0]), 3200);
  const std::vector<std::string> legend = LinesStarting(report, "legend ");
  ASSERT_EQ(legend.size(), names.size()) << report;
  EXPECT_EQ(legend[0].rfind("/lone \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.bin", 0), 0u) << legend[0];
  EXPECT_EQ(legend[2].rfind("/ctl \\x01\\x1f", 0), 0u) << legend[2];
  EXPECT_EQ(legend[4].rfind("/a<&>'\"b", 0), 0u) << legend[4];
}

}  // namespace
}  // namespace shardix::test
