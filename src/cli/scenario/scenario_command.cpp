// shardix scenario RECIPE OUT.img [--force] [--quiet] [--allow-host-path]
// shardix scenario --verify MANIFEST IMAGE
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/scenario/content.h"
#include "cli/scenario/manifest.h"
#include "cli/scenario/scenario.h"
#include "cli/stop_signals.h"
#include "cli/usage.h"
#include "volume/error_codes.h"

namespace shardix::cli {

namespace {

namespace fs = std::filesystem;

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
  std::size_t listed = 0, deleted = 0;
  for (const FileRecord& file : result.files) {
    listed += file.listed;
    deleted += file.listed && file.state != "allocated";
  }
  std::printf("Made %s: %llu bytes, sha256 %s\n%zu streams in the manifest (%zu deleted)\n"
              "Manifest: %s\nTable:    %s\n",
              image.c_str(), static_cast<unsigned long long>(result.image_bytes),
              result.image_sha256.c_str(), listed, deleted, json_path.c_str(), table_path.c_str());
  for (const std::string& warning : result.warnings) std::printf("Warning: %s\n", warning.c_str());
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
  std::string text;
  for (const std::string& difference : differences) text += (text.empty() ? "" : "; ") + difference;
  return text;
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
  std::unique_ptr<ImageFiles> files;
  if (OpenImageReader(image, &files, &error)) {
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
  std::string sha256;
  uint64_t bytes = 0;
  if (HashHostFile(image, &sha256, &bytes, &error)) {
    std::printf("%s  the image's sha256%s\n", sha256 == manifest.image_sha256 ? "ok      " : "changed ",
                sha256 == manifest.image_sha256 ? "" : " (files are checked one by one)");
  }
  std::size_t differing = 0, checked = 0;
  for (const FileRecord& file : manifest.files) {
    const std::string name = file.path + (file.stream.empty() ? "" : ":" + file.stream);
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
  if (differing) std::printf("%zu of %zu files differ from the manifest\n", differing, checked);
  else std::printf("All %zu files match the manifest\n", checked);
  return differing ? kExitFailure : kExitSuccess;
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
