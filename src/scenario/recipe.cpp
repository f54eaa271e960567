// Reading a recipe strictly: every key known, every value of its type and
// range, every host file a regular file where the recipe may read it.
#include "scenario/recipe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <set>
#include <string_view>

#include "scenario/content.h"
#include "scenario/partition_table.h"
#include "scenario/picture.h"
#include "scenario/strict_json.h"
#include "fragment/fragment_job.h"
#include "fragment/placement_names.h"

namespace shardix::scenario {

namespace {

using Json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr uint64_t kMostPieces = 100000;
// Time stamps from 1601-01-01 (NTFS's first second) to 9999-12-31.
constexpr int64_t kEarliestTime = -11644473600, kLatestTime = 253402300799;

std::string Member(const std::string& place, const std::string& key) {
  return place.empty() ? key : place + "." + key;
}
std::string Item(const std::string& place, std::size_t index) {
  return place + "[" + std::to_string(index) + "]";
}

std::string List(std::initializer_list<std::string_view> words) {
  std::string text;
  for (std::string_view word : words) text += (text.empty() ? "" : ", ") + std::string(word);
  return text;
}

// UTF-16 code units of UTF-8 text (already checked by the parser).
std::size_t Utf16Length(const std::string& text) {
  std::size_t units = 0;
  for (unsigned char c : text) units += (c & 0xC0) != 0x80 ? 1 : 0;
  for (unsigned char c : text) units += c >= 0xF0 ? 1 : 0;
  return units;
}

// The volume's own files in its root folder, which no recipe may make.
bool SystemFileName(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* own : {"$mft", "$mftmirr", "$logfile", "$volume", "$attrdef", "$bitmap", "$boot",
                          "$badclus", "$secure", "$upcase", "$extend"})
    if (name == own) return true;
  return false;
}

class Reader {
 public:
  Reader(const RecipeOptions& options, Recipe* recipe, std::string* error)
      : options_(options), recipe_(*recipe), error_(*error) {}

  bool Read(const Json& root);

 private:
  bool Fail(const std::string& place, const std::string& what) {
    error_ = (place.empty() ? "the recipe" : place) + ": " + what;
    return false;
  }
  bool OnlyKeys(const Json& object, const std::string& place, const std::string& what,
                std::initializer_list<std::string_view> keys);
  bool Unsigned(const Json& object, const std::string& place, const char* key, bool required,
                uint64_t low, uint64_t high, uint64_t* value);
  bool Boolean(const Json& object, const std::string& place, const char* key, bool* value);
  bool Size(const Json& value, const std::string& place, uint64_t* bytes);
  bool Path(const Json& object, const std::string& place, const char* key, std::string* path);
  bool PathText(const std::string& text, const std::string& where, std::string* path);
  bool HostFile(const std::string& place, FileRecipe* file);
  bool Content(const Json& step, const std::string& place, FileRecipe* file, bool size_optional);
  bool File(const Json& step, const std::string& place, FileRecipe* file, bool size_optional);
  bool Volume(const Json& volume, const std::string& place);
  bool Disk(const Json& volume, const std::string& place);
  bool Layout(const Json& step, const std::string& place, Step* out);
  bool Step(const Json& step, const std::string& place, scenario::Step* out);

  const RecipeOptions& options_;
  Recipe& recipe_;
  std::string& error_;
};

bool Reader::OnlyKeys(const Json& object, const std::string& place, const std::string& what,
                      std::initializer_list<std::string_view> keys) {
  for (const auto& [key, value] : object.items()) {
    bool known = false;
    for (std::string_view k : keys) known = known || key == k;
    if (!known) return Fail(Member(place, key), "unknown key; " + what + " takes " + List(keys));
  }
  return true;
}

bool Reader::Unsigned(const Json& object, const std::string& place, const char* key, bool required,
                      uint64_t low, uint64_t high, uint64_t* value) {
  const auto found = object.find(key);
  if (found == object.end()) return !required || Fail(Member(place, key), "is required");
  if (!found->is_number_unsigned() || found->get<uint64_t>() < low || found->get<uint64_t>() > high)
    return Fail(Member(place, key), "takes a whole number from " + std::to_string(low) + " to " +
                                        std::to_string(high));
  *value = found->get<uint64_t>();
  return true;
}

bool Reader::Boolean(const Json& object, const std::string& place, const char* key, bool* value) {
  const auto found = object.find(key);
  if (found == object.end()) return true;
  if (!found->is_boolean()) return Fail(Member(place, key), "takes true or false");
  *value = found->get<bool>();
  return true;
}

// A size: a whole number of bytes, or a text such as "64M", "4K", "16G"
// (binary multiples; "MiB" and the like read the same).
bool Reader::Size(const Json& value, const std::string& place, uint64_t* bytes) {
  const std::string usage = "takes bytes, or a text such as \"64K\" (K, M, G, T), up to 2^64 - 1 bytes";
  if (value.is_number_unsigned()) {
    *bytes = value.get<uint64_t>();
    return true;
  }
  if (!value.is_string()) return Fail(place, usage);
  const std::string& text = value.get_ref<const std::string&>();
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 19) return Fail(place, usage);
  const uint64_t number = std::stoull(text.substr(0, digits));
  std::string unit = text.substr(digits);
  if (unit == "iB" || unit == "B") unit.clear();
  else if (unit.size() == 3 && unit.substr(1) == "iB") unit.resize(1);
  int shift = 0;
  if (unit == "K") shift = 10;
  else if (unit == "M") shift = 20;
  else if (unit == "G") shift = 30;
  else if (unit == "T") shift = 40;
  else if (!unit.empty()) return Fail(place, usage);
  if (number > (~uint64_t{0} >> shift)) return Fail(place, usage);
  *bytes = number << shift;
  return true;
}

bool Reader::Path(const Json& object, const std::string& place, const char* key, std::string* path) {
  const std::string where = Member(place, key);
  const auto found = object.find(key);
  if (found == object.end()) return Fail(where, "is required: a path inside the image");
  if (!found->is_string()) return Fail(where, "takes a path inside the image, such as /folder/name.ext");
  return PathText(found->get<std::string>(), where, path);
}

// A path inside the image: /folder/name.ext, each name a valid NTFS name.
bool Reader::PathText(const std::string& text, const std::string& where, std::string* path) {
  *path = text;
  const std::string bad = "\"" + *path + "\" is not a path such as /folder/name.ext";
  if (path->size() < 2 || (*path)[0] != '/' || path->back() == '/') return Fail(where, bad);
  for (std::size_t start = 1; start <= path->size();) {
    std::size_t end = path->find('/', start);
    if (end == std::string::npos) end = path->size();
    const std::string name = path->substr(start, end - start);
    if (name.empty() || name == "." || name == "..")
      return Fail(where, bad + ": no empty, \".\" or \"..\" names");
    for (unsigned char c : name)
      if (c < 0x20 || c == ':')
        return Fail(where, bad + ": names hold no control characters and no ':'");
    if (Utf16Length(name) > 255) return Fail(where, bad + ": a name is at most 255 characters");
    if (start == 1 && SystemFileName(name)) return Fail(where, bad + ": " + name + " in / is the volume's own");
    start = end + 1;
  }
  return true;
}

bool Reader::HostFile(const std::string& place, FileRecipe* file) {
  const std::string& given = file->content.host_path;
  fs::path where(given);
  const std::string outside = "\"" + given +
                              "\" is outside the recipe's folder; host files are named relative to "
                              "it, inside it (--allow-host-path lifts this)";
  if (!options_.allow_host_path) {
    if (where.is_absolute()) return Fail(place, outside);
    for (const fs::path& part : where)
      if (part == "..") return Fail(place, outside);
  }
  if (where.is_relative()) where = fs::path(options_.base_folder) / where;
  if (!options_.allow_host_path) {
    // Links may not lead out of the folder either.
    std::error_code failure;
    const fs::path folder = fs::canonical(options_.base_folder, failure);
    const fs::path target = failure ? fs::path() : fs::weakly_canonical(where, failure);
    if (failure) return Fail(place, "cannot read the host file " + where.string() + ": " + failure.message());
    const fs::path inside = target.lexically_relative(folder);
    if (inside.empty() || *inside.begin() == "..") return Fail(place, outside);
  }
  // Opened without waiting (a FIFO with no writer), then only a regular file
  // is read: a FIFO, a device or a folder would hang or never end.
  const int fd = ::open(where.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return Fail(place, "cannot read the host file " + where.string() + ": " + std::strerror(errno));
  struct stat facts {};
  bool ok = ::fstat(fd, &facts) == 0;
  std::string why = ok ? "" : std::strerror(errno);
  if (ok && !S_ISREG(facts.st_mode)) {
    ok = false;
    why = "not a regular file";
  } else if (ok && static_cast<uint64_t>(facts.st_size) > recipe_.volume_bytes) {
    ok = false;
    why = std::to_string(facts.st_size) + " bytes cannot fit the volume";
  }
  std::vector<uint8_t>& bytes = file->content.host_bytes;
  if (ok) bytes.resize(static_cast<std::size_t>(facts.st_size));
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) why = std::strerror(errno);
    if (got <= 0) {
      ok = got == 0;  // shorter than it was: what there is
      bytes.resize(done);
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  if (!ok) return Fail(place, "the host file " + where.string() + ": " + why);
  return true;
}

bool Reader::Content(const Json& step, const std::string& place, FileRecipe* file, bool size_optional) {
  FileContent& content = file->content;
  content.seed = ContentSeed(recipe_.seed, file->path, file->stream);
  if (!Unsigned(step, place, "seed", false, 0, ~uint64_t{0}, &content.seed)) return false;
  const auto kind = step.find("content");
  const std::string name = kind == step.end() ? "random" : kind->is_string() ? kind->get<std::string>() : "";
  const std::string where = Member(place, "content");
  if (name == "random") content.kind = FileContent::Kind::kRandom;
  else if (name == "zero") content.kind = FileContent::Kind::kZero;
  else if (name == "jpeg") content.kind = FileContent::Kind::kJpeg;
  else if (name == "png") content.kind = FileContent::Kind::kPng;
  else if (name == "pattern") content.kind = FileContent::Kind::kPattern;
  else if (name == "host") content.kind = FileContent::Kind::kHost;
  else return Fail(where, "takes random, zero, pattern, host, jpeg or png");
  const auto pattern = step.find("pattern");
  if ((pattern != step.end()) != (name == "pattern"))
    return Fail(Member(place, "pattern"), "goes with content \"pattern\": the text to repeat");
  if (pattern != step.end()) {
    if (!pattern->is_string() || pattern->get_ref<const std::string&>().empty())
      return Fail(Member(place, "pattern"), "takes the text to repeat");
    content.pattern = pattern->get<std::string>();
  }
  const auto host = step.find("host");
  if ((host != step.end()) != (name == "host"))
    return Fail(Member(place, "host"), "goes with content \"host\": a file beside the recipe");
  if (host != step.end()) {
    if (!host->is_string() || host->get_ref<const std::string&>().empty())
      return Fail(Member(place, "host"), "takes a file beside the recipe");
    content.host_path = host->get<std::string>();
    if (!HostFile(Member(place, "host"), file)) return false;
    if (!file->size_given) {
      file->size = content.host_bytes.size();
      file->size_given = true;
    }
  }
  if (!file->size_given && !size_optional) return Fail(Member(place, "size"), "is required");
  const uint64_t smallest = content.kind == FileContent::Kind::kJpeg ? kSmallestJpeg
                            : content.kind == FileContent::Kind::kPng ? kSmallestPng : 0;
  if (file->size_given && file->size < smallest)
    return Fail(Member(place, "size"), "a " + name + " picture needs at least " + std::to_string(smallest) + " bytes");
  // An overwrite's picture takes the runs' size: at least one cluster.
  if (!file->size_given && recipe_.cluster_size < smallest)
    return Fail(place, "a " + name + " picture of one " + std::to_string(recipe_.cluster_size) +
                           "-byte cluster is too small: give \"size\" of at least " + std::to_string(smallest));
  return true;
}

bool Reader::File(const Json& step, const std::string& place, FileRecipe* file, bool size_optional) {
  if (!Path(step, place, "path", &file->path)) return false;
  if (const auto stream = step.find("stream"); stream != step.end()) {
    if (!stream->is_string() || stream->get_ref<const std::string&>().empty())
      return Fail(Member(place, "stream"), "takes a stream name");
    file->stream = stream->get<std::string>();
    for (unsigned char c : file->stream)
      if (c < 0x20 || c == ':' || c == '/')
        return Fail(Member(place, "stream"), "a stream name holds no control characters, ':' or '/'");
    if (Utf16Length(file->stream) > 255) return Fail(Member(place, "stream"), "is at most 255 characters");
  }
  if (const auto size = step.find("size"); size != step.end()) {
    if (!Size(*size, Member(place, "size"), &file->size)) return false;
    file->size_given = true;
  }
  if (!Content(step, place, file, size_optional)) return false;
  if (const auto sparse = step.find("data"); sparse != step.end()) {
    const std::string where = Member(place, "data");
    if (!sparse->is_array() || sparse->empty())
      return Fail(where, "lists [offset, length] ranges of a sparse file");
    uint64_t end = 0;
    for (std::size_t i = 0; i < sparse->size(); ++i) {
      const Json& range = (*sparse)[i];
      DataRange r;
      if (!range.is_array() || range.size() != 2 || !Size(range[0], Item(where, i), &r.offset) ||
          !Size(range[1], Item(where, i), &r.length) || r.length == 0)
        return Fail(Item(where, i), "a range is [offset, length] with length above 0");
      if (r.offset < end || r.offset > file->size || r.length > file->size - r.offset)
        return Fail(Item(where, i), "ranges must be in order, apart, and inside the file's size");
      end = r.offset + r.length;
      file->data.push_back(r);
    }
    if (file->content.kind == FileContent::Kind::kJpeg || file->content.kind == FileContent::Kind::kPng)
      return Fail(where, "a picture has no holes");
  }
  if (step.contains("reuse_record_of") && !Path(step, place, "reuse_record_of", &file->reuse_record_of))
    return false;
  return true;
}

bool Reader::Volume(const Json& volume, const std::string& place) {
  if (!volume.is_object()) return Fail(place, "is an object: {\"size\": \"64M\", ...}");
  if (!OnlyKeys(volume, place, "\"volume\"", {"size", "cluster_size", "sector_size", "label", "freed",
                                                 "partition_table", "offset"}))
    return false;
  uint64_t number = recipe_.cluster_size;
  if (!Unsigned(volume, place, "cluster_size", false, 512, 65536, &number)) return false;
  if (number & (number - 1)) return Fail(Member(place, "cluster_size"), "takes a power of two from 512 to 65536");
  recipe_.cluster_size = static_cast<uint32_t>(number);
  number = recipe_.sector_size;
  if (!Unsigned(volume, place, "sector_size", false, 256, 4096, &number)) return false;
  if ((number & (number - 1)) || number > recipe_.cluster_size)
    return Fail(Member(place, "sector_size"), "takes a power of two from 256 to 4096, at most the cluster size");
  recipe_.sector_size = static_cast<uint32_t>(number);
  const auto size = volume.find("size");
  if (size == volume.end()) return Fail(Member(place, "size"), "is required");
  if (!Size(*size, Member(place, "size"), &recipe_.volume_bytes)) return false;
  // NTFS counts clusters in 32 bits on Windows.
  const uint64_t largest = uint64_t{recipe_.cluster_size} * 0xFFFFFFFFu;
  if (recipe_.volume_bytes < (2u << 20) || recipe_.volume_bytes > largest)
    return Fail(Member(place, "size"), "takes 2M to " + std::to_string(largest) + " bytes with " +
                                           std::to_string(recipe_.cluster_size) + "-byte clusters");
  if (const auto label = volume.find("label"); label != volume.end()) {
    if (!label->is_string() || Utf16Length(label->get<std::string>()) > 32)
      return Fail(Member(place, "label"), "takes a text of up to 32 characters");
    recipe_.label = label->get<std::string>();
    for (unsigned char c : recipe_.label)
      if (c < 0x20) return Fail(Member(place, "label"), "holds no control characters");
  }
  if (const auto freed = volume.find("freed"); freed != volume.end()) {
    if (!freed->is_string() || (*freed != "zero" && *freed != "keep"))
      return Fail(Member(place, "freed"), "takes \"zero\" or \"keep\"");
    recipe_.keep_freed = *freed == "keep";
  }
  return Disk(volume, place);
}

bool Reader::Disk(const Json& volume, const std::string& place) {
  const auto table = volume.find("partition_table");
  if (table == volume.end()) {
    if (volume.contains("offset")) return Fail(Member(place, "offset"), "goes with \"partition_table\"");
    return true;
  }
  if (!table->is_string() || (*table != "mbr" && *table != "gpt"))
    return Fail(Member(place, "partition_table"), "takes \"mbr\" or \"gpt\"");
  recipe_.partition_table = table->get<std::string>();
  const uint32_t sector = recipe_.sector_size;
  if (sector < 512)
    return Fail(Member(place, "partition_table"), "needs sectors of at least 512 bytes (\"sector_size\")");
  recipe_.volume_offset = 1u << 20;
  const std::string where = Member(place, "offset");
  if (const auto offset = volume.find("offset"); offset != volume.end() && !Size(*offset, where, &recipe_.volume_offset))
    return false;
  const uint64_t smallest = SmallestOffset(recipe_.partition_table, sector);
  if (recipe_.volume_offset % sector || recipe_.volume_offset < smallest)
    return Fail(where, "takes a multiple of the " + std::to_string(sector) + "-byte sector, at least " +
                           std::to_string(smallest) + " for " + recipe_.partition_table + " (default 1M)");
  // An MBR, and NTFS's count of the sectors before it, hold 32 bits.
  const uint64_t sectors = (recipe_.volume_bytes + sector - 1) / sector;
  if (recipe_.volume_offset / sector > 0xFFFFFFFFu)
    return Fail(where, "lies past the 2^32 sectors NTFS counts before its volume");
  if (recipe_.partition_table == "mbr" && sectors > 0xFFFFFFFFu)
    return Fail(Member(place, "size"), "holds more than the 2^32 sectors an MBR can count (gpt can)");
  return true;
}

bool Reader::Layout(const Json& step, const std::string& place, scenario::Step* out) {
  if (const auto split = step.find("split"); split != step.end()) {
    const std::string where = Member(place, "split");
    if (!split->is_object()) return Fail(where, "maps paths to piece counts or piece sizes");
    for (const auto& [path, how] : split->items()) {
      const std::string at = where + "[" + Json(path).dump() + "]";
      LayoutSplit s;
      if (!PathText(path, at, &s.path)) return false;
      if (how.is_number_unsigned() && how.get<uint64_t>() >= 1 && how.get<uint64_t>() <= kMostPieces) {
        s.pieces = static_cast<uint32_t>(how.get<uint64_t>());
      } else if (how.is_array() && !how.empty() && how.size() <= kMostPieces) {
        for (std::size_t i = 0; i < how.size(); ++i) {
          if (!how[i].is_number_unsigned() || how[i].get<uint64_t>() == 0 ||
              how[i].get<uint64_t>() > 0xFFFFFFFFu)
            return Fail(Item(at, i), "a piece size is a number of clusters from 1 to 4294967295");
          s.piece_clusters.push_back(how[i].get<uint64_t>());
        }
        s.pieces = static_cast<uint32_t>(s.piece_clusters.size());
      } else {
        return Fail(at, "takes a piece count from 1 to " + std::to_string(kMostPieces) +
                            ", or a list of piece sizes in clusters");
      }
      out->split.push_back(s);
    }
  }
  const auto arrange = step.find("arrange");
  const std::string where = Member(place, "arrange");
  if (arrange == step.end() || !arrange->is_array() || arrange->empty())
    return Fail(where, "lists pieces (\"/a.jpg#2\", \"/b.jpg\") and gaps ({\"gap\": 4})");
  for (std::size_t i = 0; i < arrange->size(); ++i) {
    const Json& item = (*arrange)[i];
    const std::string at = Item(where, i);
    LayoutItem li;
    if (item.is_object()) {
      if (!OnlyKeys(item, at, "a gap", {"gap"}) ||
          !Unsigned(item, at, "gap", true, 1, 0xFFFFFFFFu, &li.gap))
        return false;
    } else if (item.is_string()) {
      std::string text = item.get<std::string>();
      if (const std::size_t hash = text.rfind('#'); hash != std::string::npos) {
        const std::string number = text.substr(hash + 1);
        uint64_t piece = 0;
        bool digits = !number.empty() && number.size() <= 6 && number[0] != '0';
        for (char c : number) digits = digits && c >= '0' && c <= '9';
        if (digits) piece = std::stoull(number);
        if (!digits || piece == 0 || piece > kMostPieces)
          return Fail(at, "\"" + text + "\": a piece is PATH#N, N from 1 to " + std::to_string(kMostPieces));
        li.piece = static_cast<uint32_t>(piece);
        text.erase(hash);
      }
      if (!PathText(text, at, &li.path)) return false;
    } else {
      return Fail(at, "a piece (\"/a.jpg#2\") or a gap ({\"gap\": 4})");
    }
    out->arrange.push_back(li);
  }
  return true;
}

bool Reader::Step(const Json& step, const std::string& place, scenario::Step* out) {
  if (!step.is_object()) return Fail(place, "a step is an object with \"op\"");
  const auto op = step.find("op");
  if (op == step.end() || !op->is_string()) return Fail(Member(place, "op"), "is required");
  out->op = op->get<std::string>();
  const std::string& name = out->op;
  const std::string what = "a " + name + " step";
  if (name == "folder") {
    out->kind = Step::Kind::kFolder;
    return OnlyKeys(step, place, what, {"op", "path"}) && Path(step, place, "path", &out->path);
  }
  if (name == "create") {
    out->kind = Step::Kind::kCreate;
    if (!OnlyKeys(step, place, what,
                  {"op", "path", "stream", "size", "content", "pattern", "host", "seed", "data",
                   "reuse_record_of"}) ||
        !File(step, place, &out->file, false))
      return false;
    out->path = out->file.path;
    return true;
  }
  if (name == "fragment") {
    out->kind = Step::Kind::kFragment;
    uint64_t slider = kFragmentSizeLarge, seed = recipe_.seed & 0xFFFFFFFFu;
    if (!OnlyKeys(step, place, what, {"op", "path", "count", "method", "size", "seed"}) ||
        !Path(step, place, "path", &out->path) ||
        !Unsigned(step, place, "count", true, 1, ~uint64_t{0}, &out->count) ||
        !Unsigned(step, place, "size", false, kFragmentSizeSmall, kFragmentSizeLarge, &slider) ||
        !Unsigned(step, place, "seed", false, 0, 0xFFFFFFFFu, &seed))
      return false;
    out->slider = static_cast<int>(slider);
    out->seed = static_cast<uint32_t>(seed);
    out->method = 0;
    if (const auto method = step.find("method");
        method != step.end() && (!method->is_string() || !PlacementMethodByName(method->get<std::string>(), &out->method)))
      return Fail(Member(place, "method"), "takes concentrated, scattered, random or first-fit");
    return true;
  }
  if (name == "layout") {
    out->kind = Step::Kind::kLayout;
    return OnlyKeys(step, place, what, {"op", "split", "arrange"}) && Layout(step, place, out);
  }
  if (name == "delete") {
    out->kind = Step::Kind::kDelete;
    return OnlyKeys(step, place, what, {"op", "path", "recursive"}) &&
           Boolean(step, place, "recursive", &out->recursive) && Path(step, place, "path", &out->path);
  }
  if (name == "overwrite") {
    out->kind = Step::Kind::kOverwrite;
    if (!OnlyKeys(step, place, what,
                  {"op", "path", "deleted", "pieces", "size", "content", "pattern", "host", "seed"}) ||
        !Path(step, place, "deleted", &out->deleted))
      return false;
    const auto pieces = step.find("pieces");
    const std::string where = Member(place, "pieces");
    if (pieces == step.end() || !pieces->is_array() || pieces->empty())
      return Fail(where, "lists the runs (from 1) of the deleted file to cover");
    for (std::size_t i = 0; i < pieces->size(); ++i) {
      const Json& piece = (*pieces)[i];
      if (!piece.is_number_unsigned() || piece.get<uint64_t>() == 0 || piece.get<uint64_t>() > kMostPieces)
        return Fail(Item(where, i), "a run number from 1 to " + std::to_string(kMostPieces));
      const auto number = static_cast<uint32_t>(piece.get<uint64_t>());
      for (uint32_t earlier : out->pieces)
        if (earlier == number) return Fail(Item(where, i), "run " + std::to_string(number) + " is named twice");
      out->pieces.push_back(number);
    }
    // The size follows from the pieces when not given.
    if (!File(step, place, &out->file, true)) return false;
    out->path = out->file.path;
    return true;
  }
  if (name == "age") {
    out->kind = Step::Kind::kAge;
    uint64_t percent = 30;
    out->min_size = 512;
    out->max_size = 1 << 20;
    if (!OnlyKeys(step, place, what,
                  {"op", "folder", "files", "min_size", "max_size", "delete_percent", "free_pieces", "list"}) ||
        !Path(step, place, "folder", &out->path) ||
        !Unsigned(step, place, "files", true, 1, ~uint64_t{0}, &out->age_files) ||
        !Unsigned(step, place, "free_pieces", false, 0, ~uint64_t{0}, &out->free_pieces) ||
        !Unsigned(step, place, "delete_percent", false, 0, 90, &percent) ||
        !Boolean(step, place, "list", &out->list))
      return false;
    if (const auto v = step.find("min_size"); v != step.end() && !Size(*v, Member(place, "min_size"), &out->min_size))
      return false;
    if (const auto v = step.find("max_size"); v != step.end() && !Size(*v, Member(place, "max_size"), &out->max_size))
      return false;
    if (out->min_size == 0 || out->min_size > out->max_size)
      return Fail(Member(place, "min_size"), "sizes need 0 < min_size <= max_size");
    if (out->max_size > recipe_.volume_bytes)
      return Fail(Member(place, "max_size"), "cannot fit the volume of " + std::to_string(recipe_.volume_bytes) + " bytes");
    out->delete_percent = static_cast<uint32_t>(percent);
    return true;
  }
  return Fail(Member(place, "op"), "unknown op \"" + name +
                                       "\" (folder, create, fragment, layout, delete, overwrite, age)");
}

bool Reader::Read(const Json& root) {
  if (!root.is_object()) return Fail("", "a recipe is a JSON object");
  if (!OnlyKeys(root, "", "a recipe", {"$schema", "volume", "seed", "time", "steps"})) return false;
  if (const auto schema = root.find("$schema"); schema != root.end() && !schema->is_string())
    return Fail("$schema", "takes the schema's address");
  const auto volume = root.find("volume");
  if (volume == root.end()) return Fail("volume", "is required");
  if (!Volume(*volume, "volume")) return false;
  if (!Unsigned(root, "", "seed", true, 0, ~uint64_t{0}, &recipe_.seed)) return false;
  if (const auto time = root.find("time"); time != root.end()) {
    if (!time->is_number_integer() || *time < kEarliestTime || *time > kLatestTime)
      return Fail("time", "takes whole seconds since 1970-01-01 00:00:00 UTC, from " +
                              std::to_string(kEarliestTime) + " (1601) to " + std::to_string(kLatestTime) +
                              " (9999)");
    recipe_.time = time->get<int64_t>();
  }
  const auto steps = root.find("steps");
  if (steps == root.end() || !steps->is_array()) return Fail("steps", "is required: a list of steps");
  for (std::size_t i = 0; i < steps->size(); ++i) {
    scenario::Step step;
    if (!Step((*steps)[i], Item("steps", i), &step)) return false;
    recipe_.steps.push_back(std::move(step));
  }
  return true;
}

}  // namespace

bool ParseRecipe(const std::string& text, const RecipeOptions& options, Recipe* recipe,
                 std::string* error) {
  *recipe = Recipe();
  if (!ParseStrictJson(text, &recipe->source, error)) return false;
  if (!Reader(options, recipe, error).Read(recipe->source)) return false;
  return CheckRecipeSteps(*recipe, error);
}

}  // namespace shardix::scenario
