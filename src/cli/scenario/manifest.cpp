#include "cli/scenario/manifest.h"

#include <cinttypes>
#include <cstdio>

#include "cli/json_writer.h"
#include "cli/scenario/json_value.h"

namespace shardix::cli {

namespace {

void RunsJson(JsonWriter& json, const std::vector<StreamRun>& runs, uint32_t sectors_per_cluster) {
  json.Key("runs").BeginArray();
  for (const StreamRun& run : runs) {
    json.BeginObject();
    const bool hole = run.lcn < 0;
    const uint64_t first = static_cast<uint64_t>(run.lcn);
    const auto optional = [&](uint64_t value) { return hole ? std::nullopt : std::optional<uint64_t>(value); };
    json.Key("first_cluster").OptionalNumber(optional(first));
    json.Key("last_cluster").OptionalNumber(optional(first + run.clusters - 1));
    json.Key("clusters").Number(run.clusters);
    json.Key("first_sector").OptionalNumber(optional(first * sectors_per_cluster));
    json.Key("last_sector").OptionalNumber(optional((first + run.clusters) * sectors_per_cluster - 1));
    json.Key("sectors").Number(run.clusters * sectors_per_cluster);
    json.EndObject();
  }
  json.EndArray();
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIX64, value);
  return text;
}

std::string RunsText(const std::vector<StreamRun>& runs, uint32_t scale) {
  std::string text;
  for (const StreamRun& run : runs) {
    if (!text.empty()) text += ", ";
    if (run.lcn < 0) {
      text += "hole (" + std::to_string(run.clusters * scale) + ")";
      continue;
    }
    const uint64_t first = static_cast<uint64_t>(run.lcn) * scale;
    const uint64_t count = run.clusters * scale;
    text += std::to_string(first) + "-" + std::to_string(first + count - 1) + " (" + std::to_string(count) + ")";
  }
  return text.empty() ? "-" : text;
}

}  // namespace

std::string ManifestJson(const Recipe& recipe, const ScenarioResult& result,
                         const std::string& image_name) {
  const uint32_t spc = result.geometry.cluster_size / result.geometry.sector_size;
  JsonWriter head;
  head.BeginObject();
  head.Key("image").String(image_name);
  head.Key("image_sha256").String(result.image_sha256);
  head.Key("image_bytes").Number(result.image_bytes);
  head.Key("cluster_size").Number(result.geometry.cluster_size);
  head.Key("sector_size").Number(result.geometry.sector_size);
  head.Key("cluster_count").Number(result.geometry.cluster_count);
  head.Key("serial_number").String(Hex(result.serial_number));
  head.Key("seed").Number(recipe.seed);
  head.Key("time").SignedNumber(recipe.time);
  head.Key("recipe").Raw(recipe.source.dump());
  head.Key("warnings").BeginArray();
  for (const std::string& warning : result.warnings) head.String(warning);
  head.EndArray();
  head.Key("aging").BeginArray();
  for (const AgingSummary& aging : result.aging) {
    head.BeginObject();
    head.Key("folder").String(aging.folder);
    head.Key("files_asked").Number(aging.files_asked);
    head.Key("files_created").Number(aging.files_created);
    head.Key("files_deleted").Number(aging.files_deleted);
    head.Key("free_pieces_asked").Number(aging.free_pieces_asked);
    head.Key("free_pieces").Number(aging.free_pieces);
    head.Key("outcome").String(aging.outcome);
    head.EndObject();
  }
  head.EndArray();
  head.Key("folders").BeginArray();
  for (const FolderRecord& folder : result.folders) {
    head.BeginObject();
    head.Key("path").String(folder.path);
    head.Key("mft_record").Number(folder.mft_record);
    head.Key("state").String(folder.state);
    head.EndObject();
  }
  head.EndArray();
  // One file per line, so the manifest reads and compares line by line.
  std::string text = head.text() + ",\n\"files\":[";
  bool first = true;
  for (const FileRecord& file : result.files) {
    if (!file.listed) continue;
    JsonWriter json;
    json.BeginObject();
    json.Key("path").String(file.path);
    json.Key("stream").String(file.stream);
    json.Key("mft_record").Number(file.mft_record);
    json.Key("size").Number(file.size);
    json.Key("sha256").String(file.sha256);
    json.Key("md5").String(file.md5);
    json.Key("state").String(file.state);
    json.Key("resident").Bool(file.resident);
    RunsJson(json, file.runs, spc);
    json.Key("notes").BeginArray();
    for (const std::string& note : file.notes) json.String(note);
    json.EndArray();
    json.EndObject();
    text += (first ? "\n" : ",\n") + json.text();
    first = false;
  }
  return text + "\n]}\n";
}

std::string ManifestTable(const Recipe& recipe, const ScenarioResult& result,
                          const std::string& image_name) {
  const uint32_t spc = result.geometry.cluster_size / result.geometry.sector_size;
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line,
                "Image:    %s (%llu bytes)\nSHA-256:  %s\nVolume:   NTFS, %u-byte clusters, %u-byte "
                "sectors, %llu clusters, serial number %s\nRecipe:   seed %llu\n",
                image_name.c_str(), static_cast<unsigned long long>(result.image_bytes),
                result.image_sha256.c_str(), result.geometry.cluster_size, result.geometry.sector_size,
                static_cast<unsigned long long>(result.geometry.cluster_count),
                Hex(result.serial_number).c_str(), static_cast<unsigned long long>(recipe.seed));
  text += line;
  for (const AgingSummary& aging : result.aging) {
    std::snprintf(line, sizeof line,
                  "Aged:     %s: %llu files made, %llu deleted; free space in %llu pieces (%llu asked): %s\n",
                  aging.folder.c_str(), static_cast<unsigned long long>(aging.files_created),
                  static_cast<unsigned long long>(aging.files_deleted),
                  static_cast<unsigned long long>(aging.free_pieces),
                  static_cast<unsigned long long>(aging.free_pieces_asked), aging.outcome.c_str());
    text += line;
  }
  for (const std::string& warning : result.warnings) text += "Warning:  " + warning + "\n";
  text += "\n";
  int number = 0;
  for (const FileRecord& file : result.files) {
    if (!file.listed) continue;
    std::snprintf(line, sizeof line, "%d. %s%s%s\n", ++number, file.path.c_str(),
                  file.stream.empty() ? "" : ":", file.stream.c_str());
    text += line;
    std::snprintf(line, sizeof line,
                  "   MFT entry %llu, %llu bytes, %s\n   MD5 %s\n   SHA-256 %s\n",
                  static_cast<unsigned long long>(file.mft_record),
                  static_cast<unsigned long long>(file.size), file.state.c_str(), file.md5.c_str(),
                  file.sha256.c_str());
    text += line;
    if (file.resident) {
      text += "   resident: no clusters\n";
    } else {
      text += "   clusters: " + RunsText(file.runs, 1) + "\n";
      text += "   sectors:  " + RunsText(file.runs, spc) + "\n";
    }
    for (const std::string& note : file.notes) text += "   - " + note + "\n";
  }
  return text;
}

bool ReadManifest(const std::string& text, Manifest* manifest, std::string* error) {
  JsonValue root;
  if (!JsonValue::Parse(text, &root, error)) return false;
  *manifest = Manifest();
  uint64_t number = 0;
  const JsonValue* value = nullptr;
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (!root.is_object()) return fail("a manifest is a JSON object");
  if (!(value = root.Find("cluster_size")) || !value->AsUnsigned(&number) || number == 0)
    return fail("\"cluster_size\" is missing");
  manifest->cluster_size = static_cast<uint32_t>(number);
  if (!(value = root.Find("sector_size")) || !value->AsUnsigned(&number) || number == 0)
    return fail("\"sector_size\" is missing");
  manifest->sector_size = static_cast<uint32_t>(number);
  if ((value = root.Find("image_sha256")) && value->is_string()) manifest->image_sha256 = value->text();
  const JsonValue* files = root.Find("files");
  if (!files || !files->is_array()) return fail("\"files\" is missing");
  for (const JsonValue& entry : files->items()) {
    FileRecord file;
    const JsonValue *path = entry.Find("path"), *stream = entry.Find("stream"),
                    *state = entry.Find("state"), *size = entry.Find("size"),
                    *sha256 = entry.Find("sha256"), *runs = entry.Find("runs");
    if (!path || !path->is_string() || !stream || !stream->is_string() || !state ||
        !state->is_string() || !size || !size->AsUnsigned(&file.size) || !sha256 ||
        !sha256->is_string() || !runs || !runs->is_array())
      return fail("a file entry lacks path, stream, state, size, sha256 or runs");
    file.path = path->text();
    file.stream = stream->text();
    file.state = state->text();
    file.sha256 = sha256->text();
    if (const JsonValue* resident = entry.Find("resident"); resident && resident->is_bool())
      file.resident = resident->boolean();
    int64_t vcn = 0;
    for (const JsonValue& run : runs->items()) {
      StreamRun r;
      const JsonValue *first = run.Find("first_cluster"), *clusters = run.Find("clusters");
      if (!first || !clusters || !clusters->AsUnsigned(&r.clusters))
        return fail("a run of " + file.path + " lacks first_cluster or clusters");
      if (first->is_null()) {
        r.lcn = -1;
      } else if (!first->AsSigned(&r.lcn)) {
        return fail("a run of " + file.path + " has a bad first_cluster");
      }
      r.vcn = vcn;
      vcn += static_cast<int64_t>(r.clusters);
      file.runs.push_back(r);
    }
    manifest->files.push_back(std::move(file));
  }
  return true;
}

}  // namespace shardix::cli
