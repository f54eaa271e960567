// shardix scenario RECIPE OUT.img [--force] [--quiet] [--allow-host-path]
// shardix scenario --verify MANIFEST IMAGE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/json_output.h"
#include "scenario/content.h"
#include "scenario/layout_map_svg.h"
#include "scenario/manifest.h"
#include "scenario/partition_table.h"
#include "scenario/scenario.h"
#include "cli/stop_signals.h"
#include "cli/usage.h"
#include "volume/error_codes.h"

namespace shardix::cli {

namespace {

namespace fs = std::filesystem;
using namespace shardix::scenario;

int UsageError(const std::string& problem) { return cli::UsageError("scenario", problem); }

bool ReadText(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// A recipe: a file, or a pipe (`<(...)`), read whole; not a folder, and not
// an endless device.
bool ReadRecipe(const std::string& path, std::string* text, std::string* error) {
  constexpr std::size_t kLargest = 64u << 20;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat facts {};
  if (::fstat(fd, &facts) != 0 || S_ISDIR(facts.st_mode)) {
    *error = S_ISDIR(facts.st_mode) ? "a folder, not a recipe" : std::strerror(errno);
    ::close(fd);
    return false;
  }
  char buffer[65536];
  error->clear();
  while (error->empty()) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) *error = std::strerror(errno);
    if (got <= 0) break;
    text->append(buffer, static_cast<std::size_t>(got));
    if (text->size() > kLargest) *error = "longer than " + std::to_string(kLargest >> 20) + " MiB";
  }
  ::close(fd);
  return error->empty();
}

bool WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return out.good();
}

// Flushes a file's bytes, or a folder's names, to the disk: what the build
// prints as made must be there after a power cut.
bool SyncToDisk(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  const bool synced = fd >= 0 && ::fsync(fd) == 0;
  if (!synced) *error = std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return synced;
}

// Written under a name of its own, flushed and renamed: never a half-written
// file.
bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  const std::string building = path + ".building-" + std::to_string(::getpid());
  std::error_code fs_error;
  if (!WriteText(building, text)) *error = std::strerror(errno);
  else if (SyncToDisk(building, error)) fs::rename(building, path, fs_error);
  if (fs_error) *error = fs_error.message();
  fs::remove(building, fs_error);
  return error->empty();
}

// With --json: the object for a build or check that failed (its words are
// on stderr already); returns `status`.
int JsonFailure(bool json, const char* code, const std::string& message, const std::string& path,
                int status) {
  if (json) {
    const JsonError error{code, message, path, ""};
    PrintJson(CommandJson("scenario", &error, Json::object()));
  }
  return status;
}

int Build(const std::string& recipe_path, const std::string& image, bool force, bool quiet,
          bool allow_host_path, bool json) {
  std::string text, error;
  if (!ReadRecipe(recipe_path, &text, &error)) {
    std::fprintf(stderr, "shardix scenario: cannot read the recipe %s: %s\n", recipe_path.c_str(),
                 error.c_str());
    return JsonFailure(json, "unreadable-recipe", "cannot read the recipe: " + error, recipe_path,
                       kExitUsage);
  }
  Recipe recipe;
  RecipeOptions options;
  options.base_folder = fs::path(recipe_path).parent_path().string();
  if (options.base_folder.empty()) options.base_folder = ".";
  options.allow_host_path = allow_host_path;
  if (!ParseRecipe(text, options, &recipe, &error)) {
    std::fprintf(stderr, "shardix scenario: %s: %s\n", recipe_path.c_str(), error.c_str());
    return JsonFailure(json, "bad-recipe", error, recipe_path, kExitUsage);
  }
  std::error_code fs_error;
  if (fs::exists(image, fs_error) && !force) {
    std::fprintf(stderr,
                 "shardix: %s exists; nothing was changed (--force replaces it)\n",
                 image.c_str());
    return JsonFailure(json, "image-exists", "exists; nothing was changed (--force replaces it)",
                       image, kExitFailure);
  }
  if (fs::exists(image, fs_error) && !fs::is_regular_file(image, fs_error)) {
    std::fprintf(stderr, "shardix: %s is not a regular file; nothing was changed\n",
                 image.c_str());
    return JsonFailure(json, "not-a-regular-file", "not a regular file; nothing was changed",
                       image, kExitFailure);
  }
  // The image is made under a name of its own beside OUT.img and takes
  // OUT.img's name only when whole: a build that fails leaves nothing new,
  // and an earlier OUT.img with its manifest stays as it was.
  const std::string building = image + ".building-" + std::to_string(::getpid());
  fs::remove(building, fs_error);
  ScenarioResult result;
  // Ctrl+C and SIGTERM end the build after the change in flight.
  const std::atomic<bool>* stop = InstallStopSignals();
  const bool built = BuildScenario(recipe, building, &result, quiet || json ? nullptr : stdout, stop,
                                    &error);
  if (!built) {
    fs::remove(building, fs_error);
    std::fprintf(stderr, "shardix: %s\nNothing was made at %s.\n", error.c_str(), image.c_str());
    if (stop->load()) return JsonFailure(json, "stopped", error, image, StopExitStatus());
    return JsonFailure(json, "build-failed", error, image, kExitFailure);
  }
  if (!SyncToDisk(building, &error)) {
    fs::remove(building, fs_error);
    std::fprintf(stderr, "shardix: writing the image %s failed: %s\nNothing was made at %s.\n",
                 building.c_str(), error.c_str(), image.c_str());
    return JsonFailure(json, "build-failed", error, image, kExitFailure);
  }
  const std::string json_path = image + ".manifest.json", table_path = image + ".manifest.txt";
  fs::remove(json_path, fs_error);  // a manifest of an earlier image must not outlive it
  fs::remove(table_path, fs_error);
  const std::string map_path = image + ".map.svg";
  fs::remove(map_path, fs_error);
  fs::rename(building, image, fs_error);
  if (fs_error) {
    fs::remove(building, fs_error);
    std::fprintf(stderr, "shardix: naming the image %s failed: %s\n", image.c_str(),
                 fs_error.message().c_str());
    return JsonFailure(json, "rename-failed", fs_error.message(), image, kExitFailure);
  }
  const std::string name = fs::path(image).filename().string();
  error.clear();
  if (!WriteWhole(json_path, ManifestJson(recipe, result, name), &error) ||
      !WriteWhole(table_path, ManifestTable(recipe, result, name), &error)) {
    std::fprintf(stderr, "shardix: writing the manifest beside %s failed: %s\n", image.c_str(), error.c_str());
    return JsonFailure(json, "manifest-not-written", "writing the manifest failed: " + error, json_path,
                       kExitFailure);
  }
  if (!WriteWhole(map_path, LayoutMapSvg(result, name), &error)) {
    std::fprintf(stderr, "shardix: writing the map %s failed: %s\n", map_path.c_str(), error.c_str());
    return JsonFailure(json, "map-not-written", error, map_path, kExitFailure);
  }
  // The renames too: the image and its manifests are there, under their names.
  const std::string folder = fs::path(image).parent_path().string();
  if (!SyncToDisk(folder.empty() ? "." : folder, &error)) {
    std::fprintf(stderr, "shardix: writing the names in %s failed: %s\n", folder.c_str(), error.c_str());
    return JsonFailure(json, "build-failed", error, folder, kExitFailure);
  }
  std::size_t listed = 0, deleted = 0;
  for (const FileRecord& file : result.files) {
    listed += file.listed;
    deleted += file.listed && file.state != "allocated";
  }
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "shardix: warning: %s\n", warning.c_str());
  if (json) {
    Json fields;
    PutText(fields, "image", image);
    fields["image_bytes"] = result.digests.image_bytes;
    fields["image_sha256"] = result.digests.image_sha256;
    PutText(fields, "manifest", json_path);
    PutText(fields, "table", table_path);
    PutText(fields, "map", map_path);
    fields["streams"] = listed;
    fields["deleted"] = deleted;
    fields["remnants"] = result.remnants.size();
    fields["warnings"] = Json::array();
    for (const std::string& warning : result.warnings)
      fields["warnings"].push_back(ReadableText(warning));
    PrintJson(CommandJson("scenario", nullptr, fields));
    return kExitSuccess;
  }
  std::printf("Made %s: %llu bytes, sha256 %s\n%zu streams in the manifest (%zu deleted), "
              "%zu remnants in free space\nManifest: %s\nTable:    %s\n",
              image.c_str(), static_cast<unsigned long long>(result.digests.image_bytes),
              result.digests.image_sha256.c_str(), listed, deleted, result.remnants.size(),
              json_path.c_str(), table_path.c_str());
  std::printf("Map:      %s\n", map_path.c_str());
  return kExitSuccess;
}

// One file against the image: "" when it matches, else what differs.
std::string CheckFile(ImageFiles& files, const FileRecord& file, uint32_t cluster_size) {
  std::string error, sha256;
  if (file.state != "allocated") {
    if (file.runs.empty()) return "";  // nothing of it to read back
    if (DigestOfRuns(files, file, cluster_size, &sha256, &error)) return error;
    return sha256 == file.sha256 ? "" : "its former clusters hold other bytes now";
  }
  StreamFacts facts;
  if (files.Facts(file.path, file.stream, &facts, &error)) return error;
  std::vector<std::string> differences;
  if (facts.size != file.size)
    differences.push_back("size " + std::to_string(facts.size) + ", not " + std::to_string(file.size));
  const std::vector<StreamRun> runs = JoinRuns(facts.runs);
  bool same_runs = runs.size() == file.runs.size();
  for (std::size_t i = 0; same_runs && i < runs.size(); ++i)
    same_runs = runs[i].lcn == file.runs[i].lcn && runs[i].clusters == file.runs[i].clusters;
  if (!same_runs) differences.push_back("runs moved");
  Digests digests;
  if (files.Read(file.path, file.stream,
                 [&](const uint8_t* bytes, std::size_t count) { digests.Add(bytes, count); }, &error))
    return error;
  digests.Finish(&sha256, nullptr);
  if (sha256 != file.sha256) differences.push_back("bytes differ (sha256 " + sha256 + ")");
  if (!file.slack_sha256.empty()) {
    if (DigestOfSlack(files, file, cluster_size, &sha256, &error)) return error;
    if (sha256 != file.slack_sha256) differences.push_back("slack differs (the bytes past its end in its clusters)");
  }
  std::string text;
  for (const std::string& difference : differences) text += (text.empty() ? "" : "; ") + difference;
  return text;
}

std::string ClusterText(int64_t first, uint64_t clusters) {
  return "clusters " + std::to_string(first) + "-" + std::to_string(first + static_cast<int64_t>(clusters) - 1);
}

// Stretches of free clusters holding bytes that neither a deleted file's
// runs nor a remnant account for.
std::vector<std::pair<int64_t, uint64_t>> Unaccounted(const Manifest& manifest, const RegionDigests& now) {
  std::vector<std::pair<int64_t, int64_t>> known;
  for (const FileRecord& file : manifest.files)
    if (file.state != "allocated")
      for (const StreamRun& run : file.runs)
        if (run.lcn >= 0) known.emplace_back(run.lcn, run.lcn + static_cast<int64_t>(run.clusters));
  for (const Remnant& remnant : manifest.remnants)
    known.emplace_back(remnant.first_cluster, remnant.first_cluster + static_cast<int64_t>(remnant.clusters));
  std::sort(known.begin(), known.end());
  std::vector<std::pair<int64_t, int64_t>> merged;  // [first, end), apart
  for (const auto& range : known) {
    if (!merged.empty() && range.first <= merged.back().second)
      merged.back().second = std::max(merged.back().second, range.second);
    else
      merged.push_back(range);
  }
  std::vector<std::pair<int64_t, uint64_t>> out;
  std::size_t next = 0;
  for (const auto& [first, clusters] : now.free_data) {
    int64_t at = first;
    const int64_t end = first + static_cast<int64_t>(clusters);
    while (next < merged.size() && merged[next].second <= at) ++next;
    for (std::size_t k = next; k < merged.size() && merged[k].first < end && at < end; ++k) {
      if (merged[k].first > at) out.emplace_back(at, static_cast<uint64_t>(merged[k].first - at));
      at = std::max(at, merged[k].second);
    }
    if (at < end) out.emplace_back(at, static_cast<uint64_t>(end - at));
  }
  return out;
}

int Verify(const std::string& manifest_path, const std::string& image, bool json) {
  std::string text, error;
  if (!ReadText(manifest_path, &text)) {
    std::fprintf(stderr, "shardix: cannot read the manifest %s\n", manifest_path.c_str());
    return JsonFailure(json, "unreadable-manifest", "cannot read the manifest", manifest_path,
                       kExitFailure);
  }
  Manifest manifest;
  if (!ReadManifest(text, &manifest, &error)) {
    std::fprintf(stderr, "shardix scenario: %s: %s\n", manifest_path.c_str(), error.c_str());
    return JsonFailure(json, "bad-manifest", error, manifest_path, kExitUsage);
  }
  // Each line as it comes; with --json the places that differ are gathered
  // into one object at the end instead.
  Json differences = Json::array();
  std::size_t checked = 0;
  std::string sha256_now;
  const auto say = [json](const std::string& line) {
    if (!json) std::printf("%s\n", line.c_str());
  };
  const auto differs = [&](const std::string& place, const std::string& what) {
    differences.push_back({{"place", ReadableText(place)}, {"difference", ReadableText(what)}});
    say("DIFFERS  " + place + ": " + what);
  };
  const auto verdict = [&] {
    if (json) {
      Json fields;
      PutText(fields, "manifest", manifest_path);
      PutText(fields, "image", image);
      fields["image_sha256"] = sha256_now.empty() ? Json(nullptr) : Json(sha256_now);
      fields["files_checked"] = checked;
      fields["differences"] = differences;
      const JsonError error{"differs", std::to_string(differences.size()) +
                                           " places differ from the manifest", image, ""};
      if (!differences.empty())
        std::fprintf(stderr, "shardix: %s: %s\n", image.c_str(), error.message.c_str());
      PrintJson(CommandJson("scenario", differences.empty() ? nullptr : &error, fields));
    }
    return differences.empty() ? kExitSuccess : kExitFailure;
  };
  const std::atomic<bool>* stop = InstallStopSignals();
  // A disk's volume is read from a copy of its partition, in a folder of
  // its own that goes when the check ends.
  struct RemovedAtEnd {
    std::string folder;
    ~RemovedAtEnd() {
      std::error_code ignored;
      if (!folder.empty()) fs::remove_all(folder, ignored);
    }
  } scratch;
  std::string volume = image;
  if (!manifest.partition_table.empty()) {
    std::error_code fs_error;
    std::string folder = (fs::temp_directory_path(fs_error) / "shardix-verify-XXXXXX").string();
    if (fs_error || !::mkdtemp(folder.data())) {
      std::fprintf(stderr, "shardix: cannot make a folder for the volume's copy: %s\n",
                   fs_error ? fs_error.message().c_str() : std::strerror(errno));
      return kExitFailure;
    }
    scratch.folder = folder;
    volume = folder + "/volume";
    if (!ExtractVolume(image, manifest.volume_offset, manifest.volume_bytes, volume, stop, &error)) {
      std::fprintf(stderr, "shardix: %s\n", error.c_str());
      return stop->load() ? StopExitStatus() : kExitFailure;
    }
  }
  std::unique_ptr<ImageFiles> files;
  if (OpenImageReader(volume, &files, &error)) {
    std::fprintf(stderr, "shardix: %s\n", error.c_str());
    return JsonFailure(json, "unreadable-image", error, image, kExitFailure);
  }
  const ImageGeometry geometry = files->geometry();
  if (geometry.cluster_size != manifest.cluster_size || geometry.sector_size != manifest.sector_size) {
    differs("the volume", std::to_string(geometry.cluster_size) + "-byte clusters and " +
                              std::to_string(geometry.sector_size) + "-byte sectors, not " +
                              std::to_string(manifest.cluster_size) + " and " +
                              std::to_string(manifest.sector_size));
    return verdict();
  }
  std::vector<uint8_t> bitmap;
  if (files->ClusterBitmap(&bitmap, &error)) {
    std::fprintf(stderr, "shardix: %s\n", error.c_str());
    return JsonFailure(json, "unreadable-image", error, image, kExitFailure);
  }
  RegionDigests now;
  if (!ImageRegions(image, geometry, bitmap, manifest.files, stop, &now, &error, manifest.volume_offset,
                    manifest.partition_table.empty() ? UINT64_MAX : manifest.volume_bytes)) {
    std::fprintf(stderr, "shardix: %s\n", error.c_str());
    if (stop->load()) return JsonFailure(json, "stopped", error, image, StopExitStatus());
    return JsonFailure(json, "unreadable-image", error, image, kExitFailure);
  }
  sha256_now = now.image_sha256;
  // The same bytes as built: every file, remnant, free cluster and slack
  // byte matches, and nothing needs reading again.
  if (now.image_sha256 == manifest.image_sha256) {
    say("ok       the image's sha256 " + now.image_sha256 + "\nAll " +
        std::to_string(manifest.files.size()) + " files, " +
        std::to_string(manifest.remnants.size()) +
        " remnants, free space and metadata match the manifest");
    return verdict();
  }
  say("changed  the image's sha256 (" + now.image_sha256 + "): looking for the place");
  const auto stopped = [&] {
    if (!stop->load()) return false;
    std::fprintf(stderr, "shardix: stopped while verifying %s\n", image.c_str());
    JsonFailure(json, "stopped", "stopped while verifying", image, 0);
    return true;
  };
  for (const FileRecord& file : manifest.files) {
    if (stopped()) return StopExitStatus();
    const std::string name = ManifestName(file.path + (file.stream.empty() ? "" : ":" + file.stream));
    if (file.state == "overwritten") {
      say("skipped  " + name + " (overwritten)");
      continue;
    }
    ++checked;
    const std::string difference = CheckFile(*files, file, manifest.cluster_size);
    if (difference.empty()) say("ok       " + name + (file.state == "allocated" ? "" : " (deleted)"));
    else differs(name, difference);
  }
  for (const Remnant& remnant : manifest.remnants) {
    if (stopped()) return StopExitStatus();
    std::string sha256;
    const std::string place = "remnant of " + ManifestName(remnant.path) + " at " +
                              ClusterText(remnant.first_cluster, remnant.clusters);
    if (DigestOfClusters(*files, remnant.first_cluster, remnant.clusters, &sha256, &error))
      differs(place, error);
    else if (sha256 != remnant.sha256)
      differs(place, "bytes differ");
  }
  if (!manifest.free_sha256.empty() && now.free_sha256 != manifest.free_sha256) {
    const auto stretches = Unaccounted(manifest, now);
    std::string where;
    for (std::size_t i = 0; i < stretches.size() && i < 8; ++i)
      where += (i ? ", " : "") + ClusterText(stretches[i].first, stretches[i].second);
    if (stretches.size() > 8) where += " and " + std::to_string(stretches.size() - 8) + " more";
    differs("free space", where.empty() ? "its bytes differ (in a deleted file or remnant named "
                                          "above, or zeroed where bytes were)"
                                        : where + " hold bytes the manifest does not account for");
  }
  if (!manifest.metadata_sha256.empty() && now.metadata_sha256 != manifest.metadata_sha256)
    differs("metadata", "the clusters in use by no listed file (MFT, folders, system files) or "
                        "the bytes past the last cluster");
  if (!manifest.partition_table.empty()) {
    const DiskShape shape{manifest.partition_table, manifest.volume_offset, manifest.sector_size,
                          manifest.volume_bytes, manifest.seed};
    if (const std::string difference = TableDifference(image, shape); !difference.empty())
      differs("the partition table", difference);
  }
  if (differences.empty())
    differs("the image", "its sha256 differs, in no place the manifest describes");
  if (differences.size() == 1)
    say("1 place differs from the manifest (" + std::to_string(checked) + " files checked)");
  else
    say(std::to_string(differences.size()) + " places differ from the manifest (" +
        std::to_string(checked) + " files checked)");
  return verdict();
}

}  // namespace

int RunScenario(const std::vector<std::string>& words) {
  Arguments args =
      ParseArguments(words, {"--verify", "--force", "--quiet", "--allow-host-path", "--json"}, {});
  if (!args.error.empty()) return UsageError(args.error);
  if (args.positional.size() != 2) return UsageError("name two files");
  const bool json = args.Has("--json");
  if (args.Has("--verify")) return Verify(args.positional[0], args.positional[1], json);
  return Build(args.positional[0], args.positional[1], args.Has("--force"), args.Has("--quiet"),
               args.Has("--allow-host-path"), json);
}

}  // namespace shardix::cli
