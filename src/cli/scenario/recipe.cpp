#include "cli/scenario/recipe.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "cli/job_output.h"
#include "cli/scenario/content.h"
#include "fragment/fragment_job.h"

namespace shardix::cli {

namespace {

// Collects the first fault, prefixed with where it is.
struct Checker {
  std::string where;
  std::string* error;
  bool Fail(const std::string& what) {
    *error = where + what;
    return false;
  }
};

// A size: a whole number of bytes, or a string such as "64M", "4K", "16G"
// (binary multiples; "MiB" and the like read the same).
bool ReadSize(const JsonValue& value, uint64_t* bytes) {
  if (value.AsUnsigned(bytes)) return true;
  if (!value.is_string() || value.text().empty()) return false;
  const std::string& text = value.text();
  std::size_t digits = 0;
  while (digits < text.size() && std::isdigit(static_cast<unsigned char>(text[digits]))) ++digits;
  if (digits == 0 || digits > 15) return false;
  uint64_t number = std::stoull(text.substr(0, digits));
  std::string unit = text.substr(digits);
  if (unit == "iB" || unit == "B" || unit.empty()) unit = "";
  else if (unit.size() == 3 && unit.substr(1) == "iB") unit = unit.substr(0, 1);
  int shift = 0;
  if (unit == "K") shift = 10;
  else if (unit == "M") shift = 20;
  else if (unit == "G") shift = 30;
  else if (unit == "T") shift = 40;
  else if (!unit.empty()) return false;
  if (number > (~uint64_t{0} >> shift)) return false;
  *bytes = number << shift;
  return true;
}

bool ReadPath(const JsonValue& step, const char* key, std::string* path, Checker& check) {
  const JsonValue* value = step.Find(key);
  if (!value || !value->is_string())
    return check.Fail(std::string("\"") + key + "\" must name a path inside the image");
  *path = value->text();
  if (path->size() < 2 || (*path)[0] != '/' || path->back() == '/' ||
      path->find("//") != std::string::npos || path->find(':') != std::string::npos)
    return check.Fail("\"" + *path + "\" is not a path such as /folder/name.ext");
  return true;
}

bool ReadUnsigned(const JsonValue& step, const char* key, uint64_t* value, Checker& check,
                  bool required) {
  const JsonValue* found = step.Find(key);
  if (!found) return !required || check.Fail(std::string("\"") + key + "\" is required");
  if (!found->AsUnsigned(value))
    return check.Fail(std::string("\"") + key + "\" takes a whole number");
  return true;
}

bool ReadContent(const JsonValue& step, const std::string& base_folder, uint64_t recipe_seed,
                 FileRecipe* file, bool size_optional, Checker& check) {
  const bool size_given = file->size_given;
  FileContent& content = file->content;
  content.seed = ContentSeed(recipe_seed, file->path, file->stream);
  uint64_t seed = 0;
  if (step.Find("seed")) {
    if (!ReadUnsigned(step, "seed", &seed, check, true)) return false;
    content.seed = seed;
  }
  const JsonValue* kind = step.Find("content");
  const std::string name = kind ? (kind->is_string() ? kind->text() : "?") : "random";
  if (name == "random") content.kind = FileContent::Kind::kRandom;
  else if (name == "zero") content.kind = FileContent::Kind::kZero;
  else if (name == "jpeg") content.kind = FileContent::Kind::kJpeg;
  else if (name == "png") content.kind = FileContent::Kind::kPng;
  else if (name == "pattern") {
    content.kind = FileContent::Kind::kPattern;
    const JsonValue* pattern = step.Find("pattern");
    if (!pattern || !pattern->is_string() || pattern->text().empty())
      return check.Fail("content \"pattern\" needs \"pattern\": the text to repeat");
    content.pattern = pattern->text();
  } else if (name == "host") {
    content.kind = FileContent::Kind::kHost;
    const JsonValue* host = step.Find("host");
    if (!host || !host->is_string() || host->text().empty())
      return check.Fail("content \"host\" needs \"host\": a file on this computer");
    content.host_path = host->text();
    std::filesystem::path where(content.host_path);
    if (where.is_relative()) where = std::filesystem::path(base_folder) / where;
    std::ifstream in(where, std::ios::binary);
    if (!in) return check.Fail("cannot read the host file " + where.string());
    content.host_bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!size_given) {
      file->size = content.host_bytes.size();
      file->size_given = true;
    }
  } else {
    return check.Fail("\"content\" takes random, zero, pattern, host, jpeg or png");
  }
  if (!file->size_given && !size_optional) return check.Fail("\"size\" is required");
  const uint64_t smallest = content.kind == FileContent::Kind::kJpeg ? 22
                            : content.kind == FileContent::Kind::kPng ? 45 : 0;
  if (file->size < smallest && file->size != 0)
    return check.Fail("a " + name + " file needs at least " + std::to_string(smallest) + " bytes");
  return true;
}

bool ReadFile(const JsonValue& step, const std::string& base_folder, uint64_t recipe_seed,
              FileRecipe* file, Checker& check, bool size_optional = false) {
  if (!ReadPath(step, "path", &file->path, check)) return false;
  if (const JsonValue* stream = step.Find("stream")) {
    if (!stream->is_string() || stream->text().find_first_of(":/") != std::string::npos)
      return check.Fail("\"stream\" takes a stream name");
    file->stream = stream->text();
  }
  const JsonValue* size = step.Find("size");
  if (size && !ReadSize(*size, &file->size))
    return check.Fail("\"size\" takes bytes, or a text such as \"64K\"");
  file->size_given = size != nullptr;
  if (!ReadContent(step, base_folder, recipe_seed, file, size_optional, check)) return false;
  if (const JsonValue* sparse = step.Find("data")) {
    uint64_t end = 0;
    if (!sparse->is_array() || sparse->items().empty())
      return check.Fail("\"data\" lists [offset, length] ranges of a sparse file");
    for (const JsonValue& range : sparse->items()) {
      DataRange r;
      if (!range.is_array() || range.items().size() != 2 || !ReadSize(range.items()[0], &r.offset) ||
          !ReadSize(range.items()[1], &r.length) || r.length == 0)
        return check.Fail("\"data\" ranges are [offset, length] with length above 0");
      if (r.offset < end || r.offset + r.length > file->size)
        return check.Fail("\"data\" ranges must be in order, apart, and inside the file");
      end = r.offset + r.length;
      file->data.push_back(r);
    }
  }
  if (const JsonValue* reuse = step.Find("reuse_record_of")) {
    if (!ReadPath(step, "reuse_record_of", &file->reuse_record_of, check)) return false;
    (void)reuse;
  }
  return true;
}

bool ReadLayout(const JsonValue& step, Step* out, Checker& check) {
  if (const JsonValue* split = step.Find("split")) {
    if (!split->is_object()) return check.Fail("\"split\" maps paths to piece counts");
    for (const auto& [path, how] : split->members()) {
      LayoutSplit s;
      s.path = path;
      uint64_t count = 0;
      if (how.AsUnsigned(&count) && count >= 1 && count <= 100000) {
        s.pieces = static_cast<uint32_t>(count);
      } else if (how.is_array() && !how.items().empty()) {
        for (const JsonValue& clusters : how.items()) {
          uint64_t c = 0;
          if (!clusters.AsUnsigned(&c) || c == 0) return check.Fail("piece sizes are clusters above 0");
          s.piece_clusters.push_back(c);
        }
        s.pieces = static_cast<uint32_t>(s.piece_clusters.size());
      } else {
        return check.Fail("\"split\" of " + path + " takes a piece count or piece sizes");
      }
      out->split.push_back(s);
    }
  }
  const JsonValue* arrange = step.Find("arrange");
  if (!arrange || !arrange->is_array() || arrange->items().empty())
    return check.Fail("\"arrange\" lists pieces (\"/a.jpg#2\", \"/b.jpg\") and gaps ({\"gap\": 4})");
  std::set<std::string> seen;
  for (const JsonValue& item : arrange->items()) {
    LayoutItem li;
    if (item.is_object()) {
      if (!ReadUnsigned(item, "gap", &li.gap, check, true) || li.gap == 0)
        return check.Fail("a gap is {\"gap\": clusters above 0}");
    } else if (item.is_string()) {
      li.path = item.text();
      if (const std::size_t hash = li.path.rfind('#'); hash != std::string::npos) {
        uint64_t piece = 0;
        JsonValue number;
        std::string ignored;
        if (!JsonValue::Parse(li.path.substr(hash + 1), &number, &ignored) ||
            !number.AsUnsigned(&piece) || piece == 0 || piece > 100000)
          return check.Fail("\"" + li.path + "\": a piece is PATH#NUMBER, from 1");
        li.piece = static_cast<uint32_t>(piece);
        li.path = li.path.substr(0, hash);
      }
      if (!seen.insert(item.text()).second) return check.Fail(item.text() + " is placed twice");
    } else {
      return check.Fail("\"arrange\" holds paths and gaps");
    }
    out->arrange.push_back(li);
  }
  return true;
}

bool ReadStep(const JsonValue& step, const std::string& base_folder, uint64_t recipe_seed,
              Step* out, Checker& check) {
  if (!step.is_object()) return check.Fail("a step is an object with \"op\"");
  const JsonValue* op = step.Find("op");
  if (!op || !op->is_string()) return check.Fail("\"op\" is required");
  out->op = op->text();
  const std::string& name = out->op;
  if (name == "folder") {
    out->kind = Step::Kind::kFolder;
    return ReadPath(step, "path", &out->path, check);
  }
  if (name == "create") {
    out->kind = Step::Kind::kCreate;
    if (!ReadFile(step, base_folder, recipe_seed, &out->file, check)) return false;
    out->path = out->file.path;
    return true;
  }
  if (name == "fragment") {
    out->kind = Step::Kind::kFragment;
    uint64_t slider = kFragmentSizeLarge, seed = recipe_seed & 0xFFFFFFFFu;
    if (!ReadPath(step, "path", &out->path, check) ||
        !ReadUnsigned(step, "count", &out->count, check, true) ||
        !ReadUnsigned(step, "size", &slider, check, false) ||
        !ReadUnsigned(step, "seed", &seed, check, false))
      return false;
    if (slider < kFragmentSizeSmall || slider > kFragmentSizeLarge)
      return check.Fail("\"size\" takes 1 to 10, as the fragment command's --size");
    if (seed > 0xFFFFFFFFu) return check.Fail("\"seed\" takes 0 to 4294967295");
    out->slider = static_cast<int>(slider);
    out->seed = static_cast<uint32_t>(seed);
    out->method = 0;
    if (const JsonValue* method = step.Find("method");
        method && (!method->is_string() || !PlacementMethodByName(method->text(), &out->method)))
      return check.Fail("\"method\" takes concentrated, scattered, random or first-fit");
    return true;
  }
  if (name == "layout") {
    out->kind = Step::Kind::kLayout;
    return ReadLayout(step, out, check);
  }
  if (name == "delete") {
    out->kind = Step::Kind::kDelete;
    if (const JsonValue* recursive = step.Find("recursive")) {
      if (!recursive->is_bool()) return check.Fail("\"recursive\" takes true or false");
      out->recursive = recursive->boolean();
    }
    return ReadPath(step, "path", &out->path, check);
  }
  if (name == "overwrite") {
    out->kind = Step::Kind::kOverwrite;
    if (!ReadPath(step, "deleted", &out->deleted, check)) return false;
    const JsonValue* pieces = step.Find("pieces");
    if (!pieces || !pieces->is_array() || pieces->items().empty())
      return check.Fail("\"pieces\" lists the runs (from 1) of the deleted file to cover");
    for (const JsonValue& piece : pieces->items()) {
      uint64_t number = 0;
      if (!piece.AsUnsigned(&number) || number == 0 || number > 100000)
        return check.Fail("\"pieces\" lists run numbers from 1");
      out->pieces.push_back(static_cast<uint32_t>(number));
    }
    // The size follows from the pieces when not given.
    if (!ReadFile(step, base_folder, recipe_seed, &out->file, check, true)) return false;
    out->path = out->file.path;
    return true;
  }
  if (name == "age") {
    out->kind = Step::Kind::kAge;
    uint64_t percent = 30;
    out->min_size = 512;
    out->max_size = 1 << 20;
    if (!ReadPath(step, "folder", &out->path, check) ||
        !ReadUnsigned(step, "files", &out->age_files, check, true) ||
        !ReadUnsigned(step, "free_pieces", &out->free_pieces, check, false) ||
        !ReadUnsigned(step, "delete_percent", &percent, check, false))
      return false;
    if (const JsonValue* v = step.Find("min_size"); v && !ReadSize(*v, &out->min_size))
      return check.Fail("\"min_size\" takes bytes");
    if (const JsonValue* v = step.Find("max_size"); v && !ReadSize(*v, &out->max_size))
      return check.Fail("\"max_size\" takes bytes");
    if (out->min_size == 0 || out->min_size > out->max_size)
      return check.Fail("sizes need 0 < min_size <= max_size");
    if (percent > 90) return check.Fail("\"delete_percent\" takes 0 to 90");
    out->delete_percent = static_cast<uint32_t>(percent);
    if (const JsonValue* list = step.Find("list")) {
      if (!list->is_bool()) return check.Fail("\"list\" takes true or false");
      out->list = list->boolean();
    }
    return true;
  }
  return check.Fail("unknown op \"" + name +
                    "\" (folder, create, fragment, layout, delete, overwrite, age)");
}

}  // namespace

bool ParseRecipe(const std::string& text, const std::string& base_folder, Recipe* recipe,
                 std::string* error) {
  *recipe = Recipe();
  if (!JsonValue::Parse(text, &recipe->source, error)) return false;
  const JsonValue& root = recipe->source;
  Checker check{"", error};
  if (!root.is_object()) return check.Fail("a recipe is a JSON object");
  const JsonValue* volume = root.Find("volume");
  if (!volume || !volume->is_object()) return check.Fail("\"volume\" is required");
  check.where = "volume: ";
  const JsonValue* size = volume->Find("size");
  if (!size || !ReadSize(*size, &recipe->volume_bytes) || recipe->volume_bytes < (2u << 20))
    return check.Fail("\"size\" takes bytes (at least 2M), or a text such as \"64M\"");
  uint64_t number = recipe->cluster_size;
  if (!ReadUnsigned(*volume, "cluster_size", &number, check, false)) return false;
  if (number < 512 || number > 65536 || (number & (number - 1)))
    return check.Fail("\"cluster_size\" takes a power of two from 512 to 65536");
  recipe->cluster_size = static_cast<uint32_t>(number);
  number = recipe->sector_size;
  if (!ReadUnsigned(*volume, "sector_size", &number, check, false)) return false;
  if (number < 256 || number > 4096 || (number & (number - 1)) || number > recipe->cluster_size)
    return check.Fail("\"sector_size\" takes 256 to 4096, a power of two, at most the cluster size");
  recipe->sector_size = static_cast<uint32_t>(number);
  if (const JsonValue* freed = volume->Find("freed")) {
    if (!freed->is_string() || (freed->text() != "zero" && freed->text() != "keep"))
      return check.Fail("\"freed\" is \"zero\" or \"keep\"");
    recipe->keep_freed = freed->text() == "keep";
  }
  if (const JsonValue* label = volume->Find("label")) {
    if (!label->is_string() || label->text().size() > 32) return check.Fail("\"label\" takes a short text");
    recipe->label = label->text();
  }
  check.where = "";
  if (!ReadUnsigned(root, "seed", &recipe->seed, check, true)) return false;
  if (const JsonValue* time = root.Find("time"); time && !time->AsSigned(&recipe->time))
    return check.Fail("\"time\" takes seconds since 1970-01-01 00:00:00 UTC");
  const JsonValue* steps = root.Find("steps");
  if (!steps || !steps->is_array()) return check.Fail("\"steps\" is required (a list)");
  for (std::size_t i = 0; i < steps->items().size(); ++i) {
    check.where = "step " + std::to_string(i + 1) + ": ";
    Step step;
    if (!ReadStep(steps->items()[i], base_folder, recipe->seed, &step, check)) return false;
    recipe->steps.push_back(std::move(step));
  }
  return true;
}

}  // namespace shardix::cli
