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

// Written under a name of its own and renamed: never a half-written file.
bool WriteWhole(const std::string& path, const std::string& text, std::string* error) {
  const std::string building = path + ".building-" + std::to_string(::getpid());
  std::error_code fs_error;
  if (!WriteText(building, text)) *error = std::strerror(errno);
  else fs::rename(building, path, fs_error);
  if (fs_error) *error = fs_error.message();
  fs::remove(building, fs_error);
  return error->empty();
}

int Build(const std::string& recipe_path, const std::string& image, bool force, bool quiet,
          bool allow_host_path) {
  std::string text, error;
  if (!ReadRecipe(recipe_path, &text, &error)) {
    std::fprintf(stderr, "shardix scenario: cannot read the recipe %s: %s\n", recipe_path.c_str(),
                 error.c_str());
    return kExitUsage;
  }
  Recipe recipe;
  RecipeOptions options;
  options.base_folder = fs::path(recipe_path).parent_path().string();
  if (options.base_folder.empty()) options.base_folder = ".";
  options.allow_host_path = allow_host_path;
  if (!ParseRecipe(text, options, &recipe, &error)) {
    std::fprintf(stderr, "shardix scenario: %s: %s\n", recipe_path.c_str(), error.c_str());
    return kExitUsage;
  }
  std::error_code fs_error;
  if (fs::exists(image, fs_error) && !force) {
    std::fprintf(stderr,
                 "shardix scenario: %s exists; nothing was changed (--force replaces it)\n",
                 image.c_str());
    return kExitFailure;
  }
  if (fs::exists(image, fs_error) && !fs::is_regular_file(image, fs_error)) {
    std::fprintf(stderr, "shardix scenario: %s is not a regular file; nothing was changed\n",
                 image.c_str());
    return kExitFailure;
  }
  // The image is made under a name of its own beside OUT.img and takes
  // OUT.img's name only when whole: a build that fails leaves nothing new,
  // and an earlier OUT.img with its manifest stays as it was.
  const std::string building = image + ".building-" + std::to_string(::getpid());
  fs::remove(building, fs_error);
  ScenarioResult result;
  // Ctrl+C and SIGTERM end the build after the change in flight.
  const std::atomic<bool>* stop = InstallStopSignals();
  const bool built = BuildScenario(recipe, building, &result, quiet ? nullptr : stdout, stop, &error);
  if (!built) {
    fs::remove(building, fs_error);
    std::fprintf(stderr, "shardix scenario: %s\nNothing was made at %s.\n", error.c_str(), image.c_str());
    if (stop->load()) return StopExitStatus();
    return kExitFailure;
  }
  const std::string json_path = image + ".manifest.json", table_path = image + ".manifest.txt";
  fs::remove(json_path, fs_error);  // a manifest of an earlier image must not outlive it
  fs::remove(table_path, fs_error);
  const std::string map_path = image + ".map.svg";
  fs::remove(map_path, fs_error);
  fs::rename(building, image, fs_error);
  if (fs_error) {
    fs::remove(building, fs_error);
    std::fprintf(stderr, "shardix scenario: naming the image %s failed: %s\n", image.c_str(),
                 fs_error.message().c_str());
    return kExitFailure;
  }
  const std::string name = fs::path(image).filename().string();
  if (!WriteText(json_path, ManifestJson(recipe, result, name)) ||
      !WriteText(table_path, ManifestTable(recipe, result, name))) {
    std::fprintf(stderr, "shardix scenario: writing the manifest beside %s failed\n", image.c_str());
    return kExitFailure;
  }
  error.clear();
  if (!WriteWhole(map_path, LayoutMapSvg(result, name), &error)) {
    std::fprintf(stderr, "shardix scenario: writing the map %s failed: %s\n", map_path.c_str(), error.c_str());
    return kExitFailure;
  }
  std::size_t listed = 0, deleted = 0;
  for (const FileRecord& file : result.files) {
    listed += file.listed;
    deleted += file.listed && file.state != "allocated";
  }
  std::printf("Made %s: %llu bytes, sha256 %s\n%zu streams in the manifest (%zu deleted), "
              "%zu remnants in free space\nManifest: %s\nTable:    %s\n",
              image.c_str(), static_cast<unsigned long long>(result.digests.image_bytes),
              result.digests.image_sha256.c_str(), listed, deleted, result.remnants.size(),
              json_path.c_str(), table_path.c_str());
  std::printf("Map:      %s\n", map_path.c_str());
  for (const std::string& warning : result.warnings)
    std::fprintf(stderr, "shardix scenario: warning: %s\n", warning.c_str());
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

int Verify(const std::string& manifest_path, const std::string& image) {
  std::string text, error;
  if (!ReadText(manifest_path, &text)) {
    std::fprintf(stderr, "shardix scenario: cannot read the manifest %s\n", manifest_path.c_str());
    return kExitFailure;
  }
  Manifest manifest;
  if (!ReadManifest(text, &manifest, &error)) {
    std::fprintf(stderr, "shardix scenario: %s: %s\n", manifest_path.c_str(), error.c_str());
    return kExitUsage;
  }
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
      std::fprintf(stderr, "shardix scenario: cannot make a folder for the volume's copy: %s\n",
                   fs_error ? fs_error.message().c_str() : std::strerror(errno));
      return kExitFailure;
    }
    scratch.folder = folder;
    volume = folder + "/volume";
    if (!ExtractVolume(image, manifest.volume_offset, manifest.volume_bytes, volume, stop, &error)) {
      std::fprintf(stderr, "shardix scenario: %s\n", error.c_str());
      return stop->load() ? StopExitStatus() : kExitFailure;
    }
  }
  std::unique_ptr<ImageFiles> files;
  if (OpenImageReader(volume, &files, &error)) {
    std::fprintf(stderr, "shardix scenario: %s\n", error.c_str());
    return kExitFailure;
  }
  const ImageGeometry geometry = files->geometry();
  if (geometry.cluster_size != manifest.cluster_size || geometry.sector_size != manifest.sector_size) {
    std::printf("DIFFERS  the volume: %u-byte clusters and %u-byte sectors, not %u and %u\n",
                geometry.cluster_size, geometry.sector_size, manifest.cluster_size,
                manifest.sector_size);
    return kExitFailure;
  }
  std::vector<uint8_t> bitmap;
  if (files->ClusterBitmap(&bitmap, &error)) {
    std::fprintf(stderr, "shardix scenario: %s\n", error.c_str());
    return kExitFailure;
  }
  RegionDigests now;
  if (!ImageRegions(image, geometry, bitmap, manifest.files, stop, &now, &error, manifest.volume_offset,
                    manifest.partition_table.empty() ? UINT64_MAX : manifest.volume_bytes)) {
    std::fprintf(stderr, "shardix scenario: %s\n", error.c_str());
    return stop->load() ? StopExitStatus() : kExitFailure;
  }
  // The same bytes as built: every file, remnant, free cluster and slack
  // byte matches, and nothing needs reading again.
  if (now.image_sha256 == manifest.image_sha256) {
    std::printf("ok       the image's sha256 %s\nAll %zu files, %zu remnants, free space and metadata "
                "match the manifest\n", now.image_sha256.c_str(), manifest.files.size(),
                manifest.remnants.size());
    return kExitSuccess;
  }
  std::printf("changed  the image's sha256 (%s): looking for the place\n", now.image_sha256.c_str());
  std::size_t differing = 0, checked = 0;
  const auto stopped = [&] {
    if (!stop->load()) return false;
    std::fprintf(stderr, "shardix scenario: stopped while verifying %s\n", image.c_str());
    return true;
  };
  for (const FileRecord& file : manifest.files) {
    if (stopped()) return StopExitStatus();
    const std::string name = ManifestName(file.path + (file.stream.empty() ? "" : ":" + file.stream));
    if (file.state == "overwritten") {
      std::printf("skipped  %s (overwritten)\n", name.c_str());
      continue;
    }
    ++checked;
    const std::string difference = CheckFile(*files, file, manifest.cluster_size);
    if (difference.empty()) {
      std::printf("ok       %s%s\n", name.c_str(), file.state == "allocated" ? "" : " (deleted)");
    } else {
      ++differing;
      std::printf("DIFFERS  %s: %s\n", name.c_str(), difference.c_str());
    }
  }
  for (const Remnant& remnant : manifest.remnants) {
    if (stopped()) return StopExitStatus();
    std::string sha256;
    const std::string place = "remnant of " + ManifestName(remnant.path) + " at " +
                              ClusterText(remnant.first_cluster, remnant.clusters);
    if (DigestOfClusters(*files, remnant.first_cluster, remnant.clusters, &sha256, &error)) {
      ++differing;
      std::printf("DIFFERS  %s: %s\n", place.c_str(), error.c_str());
    } else if (sha256 != remnant.sha256) {
      ++differing;
      std::printf("DIFFERS  %s: bytes differ\n", place.c_str());
    }
  }
  if (!manifest.free_sha256.empty() && now.free_sha256 != manifest.free_sha256) {
    ++differing;
    const auto stretches = Unaccounted(manifest, now);
    std::string where;
    for (std::size_t i = 0; i < stretches.size() && i < 8; ++i)
      where += (i ? ", " : "") + ClusterText(stretches[i].first, stretches[i].second);
    if (stretches.size() > 8) where += " and " + std::to_string(stretches.size() - 8) + " more";
    std::printf("DIFFERS  free space: %s\n",
                where.empty() ? "its bytes differ (in a deleted file or remnant named above, or "
                                "zeroed where bytes were)"
                              : (where + " hold bytes the manifest does not account for").c_str());
  }
  if (!manifest.metadata_sha256.empty() && now.metadata_sha256 != manifest.metadata_sha256) {
    ++differing;
    std::printf("DIFFERS  metadata: the clusters in use by no listed file (MFT, folders, system "
                "files) or the bytes past the last cluster\n");
  }
  if (!manifest.partition_table.empty()) {
    const DiskShape shape{manifest.partition_table, manifest.volume_offset, manifest.sector_size,
                          manifest.volume_bytes, manifest.seed};
    if (const std::string difference = TableDifference(image, shape); !difference.empty()) {
      ++differing;
      std::printf("DIFFERS  the partition table: %s\n", difference.c_str());
    }
  }
  if (differing == 0)
    std::printf("DIFFERS  the image: its sha256 differs, in no place the manifest describes\n");
  if (differing <= 1) std::printf("1 place differs from the manifest (%zu files checked)\n", checked);
  else std::printf("%zu places differ from the manifest (%zu files checked)\n", differing, checked);
  return kExitFailure;
}

}  // namespace

int RunScenario(const std::vector<std::string>& words) {
  Arguments args = ParseArguments(words, {"--verify", "--force", "--quiet", "--allow-host-path"}, {});
  if (!args.error.empty()) return UsageError(args.error);
  if (args.positional.size() != 2) return UsageError("name two files");
  if (args.Has("--verify")) return Verify(args.positional[0], args.positional[1]);
  return Build(args.positional[0], args.positional[1], args.Has("--force"), args.Has("--quiet"),
               args.Has("--allow-host-path"));
}

}  // namespace shardix::cli
