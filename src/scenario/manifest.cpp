#include "scenario/manifest.h"

#include <cinttypes>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "volume/unicode_text.h"

namespace shardix::scenario {

namespace {

using Json = nlohmann::ordered_json;

bool FromHex(const std::string& hex, std::string* text) {
  if (hex.size() % 2) return false;
  text->clear();
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    int value = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char c = hex[k];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return false;
      value = value * 16 + digit;
    }
    *text += static_cast<char>(value);
  }
  return true;
}

// A name as any JSON reader takes it: as it is when it is well-formed
// UTF-8, else readable under `key` and exact, as hex bytes, under KEY_hex.
void PutName(Json& json, const std::string& key, const std::string& name) {
  bool exact = true;
  json[key] = ReadableUtf8(name, &exact);
  if (!exact) json[key + "_hex"] = HexBytes(name);
}

Json Texts(const std::vector<std::string>& texts) {
  Json array = Json::array();
  for (const std::string& text : texts) array.push_back(ReadableUtf8(text));
  return array;
}

// `disk_sector`: the volume's first sector on its disk (0 for a bare volume).
Json RunsJson(const std::vector<StreamRun>& runs, uint32_t sectors_per_cluster, uint64_t disk_sector) {
  Json array = Json::array();
  for (const StreamRun& run : runs) {
    Json entry;
    if (run.lcn < 0) {
      entry["first_cluster"] = nullptr;
      entry["last_cluster"] = nullptr;
      entry["clusters"] = run.clusters;
      entry["first_sector"] = nullptr;
      entry["last_sector"] = nullptr;
      entry["disk_first_sector"] = nullptr;
      entry["disk_last_sector"] = nullptr;
    } else {
      const auto first = static_cast<uint64_t>(run.lcn);
      entry["first_cluster"] = first;
      entry["last_cluster"] = first + run.clusters - 1;
      entry["clusters"] = run.clusters;
      entry["first_sector"] = first * sectors_per_cluster;
      entry["last_sector"] = (first + run.clusters) * sectors_per_cluster - 1;
      entry["disk_first_sector"] = disk_sector + first * sectors_per_cluster;
      entry["disk_last_sector"] = disk_sector + (first + run.clusters) * sectors_per_cluster - 1;
    }
    entry["sectors"] = run.clusters * sectors_per_cluster;
    array.push_back(entry);
  }
  return array;
}

std::string Dump(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%016" PRIX64, value);
  return text;
}

std::string RunsText(const std::vector<StreamRun>& runs, uint32_t scale, uint64_t base = 0) {
  std::string text;
  for (const StreamRun& run : runs) {
    if (!text.empty()) text += ", ";
    if (run.lcn < 0) {
      text += "hole (" + std::to_string(run.clusters * scale) + ")";
      continue;
    }
    const uint64_t first = base + static_cast<uint64_t>(run.lcn) * scale;
    const uint64_t count = run.clusters * scale;
    text += std::to_string(first) + "-" + std::to_string(first + count - 1) + " (" + std::to_string(count) + ")";
  }
  return text.empty() ? "-" : text;
}

}  // namespace

std::string ManifestJson(const Recipe& recipe, const ScenarioResult& result,
                         const std::string& image_name) {
  const uint32_t spc = result.geometry.cluster_size / result.geometry.sector_size;
  const RegionDigests& digests = result.digests;
  Json head;
  PutName(head, "image", image_name);
  head["image_sha256"] = digests.image_sha256;
  head["image_bytes"] = digests.image_bytes;
  head["cluster_size"] = result.geometry.cluster_size;
  head["sector_size"] = result.geometry.sector_size;
  head["cluster_count"] = result.geometry.cluster_count;
  head["serial_number"] = Hex(result.serial_number);
  // Where the volume lies in the image: a bare volume is all of it.
  head["partition_table"] = recipe.partition_table.empty() ? "none" : recipe.partition_table;
  head["volume_offset_bytes"] = recipe.volume_offset;
  head["volume_bytes"] = recipe.partition_table.empty() ? digests.image_bytes : recipe.volume_bytes;
  head["seed"] = recipe.seed;
  head["time"] = recipe.time;
  // The recipe as read; a recipe the library cannot take back is kept as text.
  const std::string source = recipe.source.dump();
  Json parsed = Json::parse(source, nullptr, false);
  head["recipe"] = parsed.is_discarded() ? Json(ReadableUtf8(source)) : parsed;
  head["free_space"] = {{"clusters", digests.free_clusters},
                        {"data_clusters", digests.free_data_clusters},
                        {"sha256", digests.free_sha256}};
  head["metadata_sha256"] = digests.metadata_sha256;
  head["warnings"] = Texts(result.warnings);
  head["aging"] = Json::array();
  for (const AgingSummary& aging : result.aging) {
    Json entry;
    PutName(entry, "folder", aging.folder);
    entry["files_asked"] = aging.files_asked;
    entry["files_created"] = aging.files_created;
    entry["files_deleted"] = aging.files_deleted;
    entry["free_pieces_asked"] = aging.free_pieces_asked;
    entry["free_pieces"] = aging.free_pieces;
    entry["outcome"] = ReadableUtf8(aging.outcome);
    head["aging"].push_back(entry);
  }
  head["folders"] = Json::array();
  for (const FolderRecord& folder : result.folders) {
    Json entry;
    PutName(entry, "path", folder.path);
    entry["mft_record"] = folder.mft_record;
    entry["state"] = folder.state;
    head["folders"].push_back(entry);
  }
  std::string text = Dump(head);
  text.pop_back();  // the closing brace: the lists below follow one entry per line
  const auto list = [&](const char* key, const std::vector<Json>& entries) {
    text += ",\n\"" + std::string(key) + "\":[";
    for (std::size_t i = 0; i < entries.size(); ++i) text += (i ? ",\n" : "\n") + Dump(entries[i]);
    text += "\n]";
  };
  std::vector<Json> entries;
  for (const Remnant& remnant : result.remnants) {
    Json entry;
    PutName(entry, "path", remnant.path);
    PutName(entry, "stream", remnant.stream);
    entry["part"] = remnant.part;
    entry["first_cluster"] = remnant.first_cluster;
    entry["clusters"] = remnant.clusters;
    entry["first_sector"] = static_cast<uint64_t>(remnant.first_cluster) * spc;
    entry["sectors"] = remnant.clusters * spc;
    entry["sha256"] = remnant.sha256;
    entry["why"] = ReadableUtf8(remnant.why);
    entries.push_back(entry);
  }
  list("remnants", entries);
  entries.clear();
  for (const FileRecord& file : result.files) {
    if (!file.listed) continue;
    Json entry;
    PutName(entry, "path", file.path);
    PutName(entry, "stream", file.stream);
    entry["mft_record"] = file.mft_record;
    entry["size"] = file.size;
    entry["sha256"] = file.sha256;
    entry["md5"] = file.md5;
    if (!file.slack_sha256.empty()) entry["slack_sha256"] = file.slack_sha256;
    entry["state"] = file.state;
    entry["resident"] = file.resident;
    entry["runs"] = RunsJson(file.runs, spc, recipe.volume_offset / result.geometry.sector_size);
    entry["notes"] = Texts(file.notes);
    entries.push_back(entry);
  }
  list("files", entries);
  return text + "}\n";
}

std::string ManifestTable(const Recipe& recipe, const ScenarioResult& result,
                          const std::string& image_name) {
  const uint32_t spc = result.geometry.cluster_size / result.geometry.sector_size;
  std::string text;
  char line[512];
  std::snprintf(line, sizeof line,
                "Image:    %s (%llu bytes)\nSHA-256:  %s\nVolume:   NTFS, %u-byte clusters, %u-byte "
                "sectors, %llu clusters, serial number %s\nRecipe:   seed %llu\n",
                image_name.c_str(), static_cast<unsigned long long>(result.digests.image_bytes),
                result.digests.image_sha256.c_str(), result.geometry.cluster_size, result.geometry.sector_size,
                static_cast<unsigned long long>(result.geometry.cluster_count),
                Hex(result.serial_number).c_str(), static_cast<unsigned long long>(recipe.seed));
  text += line;
  if (!recipe.partition_table.empty()) {
    std::snprintf(line, sizeof line, "Disk:     %s partition table, the volume at byte %llu (sector %llu)\n",
                  recipe.partition_table == "gpt" ? "GPT" : "MBR",
                  static_cast<unsigned long long>(recipe.volume_offset),
                  static_cast<unsigned long long>(recipe.volume_offset / result.geometry.sector_size));
    text += line;
  }
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
  std::snprintf(line, sizeof line, "Free:     %llu clusters, %llu of them hold anything but zeros\n",
                static_cast<unsigned long long>(result.digests.free_clusters),
                static_cast<unsigned long long>(result.digests.free_data_clusters));
  text += line;
  for (const Remnant& remnant : result.remnants) {
    std::snprintf(line, sizeof line, "Remnant:  clusters %lld-%lld (%llu): part %u of %s%s%s, %s\n",
                  static_cast<long long>(remnant.first_cluster),
                  static_cast<long long>(remnant.first_cluster + static_cast<int64_t>(remnant.clusters) - 1),
                  static_cast<unsigned long long>(remnant.clusters), remnant.part, remnant.path.c_str(),
                  remnant.stream.empty() ? "" : ":", remnant.stream.c_str(), remnant.why.c_str());
    text += line;
  }
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
      if (!recipe.partition_table.empty())
        text += "   on disk:  " + RunsText(file.runs, spc, recipe.volume_offset / result.geometry.sector_size) + "\n";
    }
    for (const std::string& note : file.notes) text += "   - " + note + "\n";
  }
  return text;
}

namespace {

// A name written by PutName, exactly.
bool GetName(const Json& entry, const std::string& key, std::string* name) {
  const auto found = entry.find(key);
  if (found == entry.end() || !found->is_string()) return false;
  const auto hex = entry.find(key + "_hex");
  if (hex == entry.end()) {
    *name = found->get<std::string>();
    return true;
  }
  return hex->is_string() && FromHex(hex->get<std::string>(), name);
}

bool GetUnsigned(const Json& entry, const char* key, uint64_t* value) {
  const auto found = entry.find(key);
  if (found == entry.end() || !found->is_number_unsigned()) return false;
  *value = found->get<uint64_t>();
  return true;
}

std::string GetText(const Json& entry, const char* key) {
  const auto found = entry.find(key);
  return found != entry.end() && found->is_string() ? found->get<std::string>() : "";
}

}  // namespace

bool ReadManifest(const std::string& text, Manifest* manifest, std::string* error) {
  *manifest = Manifest();
  const Json root = Json::parse(text, nullptr, false);
  auto fail = [&](const std::string& what) {
    *error = what;
    return false;
  };
  if (root.is_discarded()) return fail("the manifest is not JSON");
  if (!root.is_object()) return fail("a manifest is a JSON object");
  uint64_t number = 0;
  if (!GetUnsigned(root, "cluster_size", &number) || number == 0 || number > (1u << 20))
    return fail("\"cluster_size\" is missing");
  manifest->cluster_size = static_cast<uint32_t>(number);
  if (!GetUnsigned(root, "sector_size", &number) || number == 0 || number > manifest->cluster_size)
    return fail("\"sector_size\" is missing");
  manifest->sector_size = static_cast<uint32_t>(number);
  GetName(root, "image", &manifest->image);
  GetUnsigned(root, "image_bytes", &manifest->image_bytes);
  manifest->image_sha256 = GetText(root, "image_sha256");
  // Absent from manifests of bare volumes made before disks could be made.
  if (root.contains("volume_offset_bytes") && !GetUnsigned(root, "volume_offset_bytes", &manifest->volume_offset))
    return fail("\"volume_offset_bytes\" is not a whole number");
  if (root.contains("volume_bytes") && !GetUnsigned(root, "volume_bytes", &manifest->volume_bytes))
    return fail("\"volume_bytes\" is not a whole number");
  manifest->partition_table = GetText(root, "partition_table");
  if (manifest->partition_table == "none") manifest->partition_table.clear();
  if (manifest->partition_table != "" && manifest->partition_table != "mbr" && manifest->partition_table != "gpt")
    return fail("\"partition_table\" is none, mbr or gpt");
  if (!manifest->partition_table.empty() && (manifest->volume_offset == 0 || manifest->volume_bytes == 0))
    return fail("a disk's manifest gives \"volume_offset_bytes\" and \"volume_bytes\"");
  GetUnsigned(root, "seed", &manifest->seed);
  manifest->metadata_sha256 = GetText(root, "metadata_sha256");
  if (const auto free = root.find("free_space"); free != root.end() && free->is_object())
    manifest->free_sha256 = GetText(*free, "sha256");
  const auto files = root.find("files");
  if (files == root.end() || !files->is_array()) return fail("\"files\" is missing");
  for (const Json& entry : *files) {
    FileRecord file;
    const auto runs = entry.is_object() ? entry.find("runs") : entry.end();
    if (!entry.is_object() || !GetName(entry, "path", &file.path) || !GetName(entry, "stream", &file.stream) ||
        !GetUnsigned(entry, "size", &file.size) || GetText(entry, "state").empty() ||
        GetText(entry, "sha256").empty() || runs == entry.end() || !runs->is_array())
      return fail("a file entry lacks path, stream, state, size, sha256 or runs");
    file.state = GetText(entry, "state");
    file.sha256 = GetText(entry, "sha256");
    file.slack_sha256 = GetText(entry, "slack_sha256");
    if (const auto resident = entry.find("resident"); resident != entry.end() && resident->is_boolean())
      file.resident = resident->get<bool>();
    if (const auto notes = entry.find("notes"); notes != entry.end() && notes->is_array())
      for (const Json& note : *notes)
        if (note.is_string()) file.notes.push_back(note.get<std::string>());
    int64_t vcn = 0;
    for (const Json& run : *runs) {
      StreamRun r;
      const auto first = run.is_object() ? run.find("first_cluster") : run.end();
      if (first == run.end() || !GetUnsigned(run, "clusters", &r.clusters) ||
          !(first->is_null() || first->is_number_unsigned()))
        return fail("a run of " + ReadableUtf8(file.path) + " lacks first_cluster or clusters");
      r.lcn = first->is_null() ? -1 : static_cast<int64_t>(first->get<uint64_t>());
      if (r.lcn < -1 || r.clusters > (uint64_t{1} << 48)) return fail("a run of " + ReadableUtf8(file.path) + " is out of range");
      r.vcn = vcn;
      vcn += static_cast<int64_t>(r.clusters);
      file.runs.push_back(r);
    }
    manifest->files.push_back(std::move(file));
  }
  if (const auto remnants = root.find("remnants"); remnants != root.end()) {
    if (!remnants->is_array()) return fail("\"remnants\" is a list");
    for (const Json& entry : *remnants) {
      Remnant remnant;
      uint64_t first = 0;
      if (!entry.is_object() || !GetName(entry, "path", &remnant.path) ||
          !GetUnsigned(entry, "first_cluster", &first) || !GetUnsigned(entry, "clusters", &remnant.clusters) ||
          first > (uint64_t{1} << 48) || remnant.clusters > (uint64_t{1} << 48) || GetText(entry, "sha256").empty())
        return fail("a remnant lacks path, first_cluster, clusters or sha256");
      GetName(entry, "stream", &remnant.stream);
      remnant.first_cluster = static_cast<int64_t>(first);
      remnant.sha256 = GetText(entry, "sha256");
      manifest->remnants.push_back(std::move(remnant));
    }
  }
  return true;
}

std::string ManifestName(const std::string& name) { return ReadableUtf8(name); }

}  // namespace shardix::scenario
