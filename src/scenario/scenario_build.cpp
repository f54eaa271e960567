#include "scenario/scenario_build.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>

#include "analysis/analyze_file.h"
#include "scenario/content.h"
#include "scenario/format_image.h"
#include "scenario/job_record.h"
#include "scenario/partition_table.h"
#include "fragment/fragment_file.h"
#include "fragment/fragment_job.h"
#include "fragment/placement_names.h"
#include "fragment/random.h"
#include "volume/error_codes.h"

namespace shardix::scenario {

std::string StreamKey(const std::string& path, const std::string& stream) {
  return path + '\n' + stream;
}

std::vector<StreamRun> JoinRuns(const std::vector<StreamRun>& runs) {
  std::vector<StreamRun> joined;
  for (const StreamRun& run : runs) {
    if (!joined.empty()) {
      StreamRun& last = joined.back();
      const bool holes = last.lcn < 0 && run.lcn < 0;
      const bool adjacent = last.lcn >= 0 && run.lcn == last.lcn + static_cast<int64_t>(last.clusters);
      if (holes || adjacent) {
        last.clusters += run.clusters;
        continue;
      }
    }
    joined.push_back(run);
  }
  return joined;
}

uint32_t DigestOfRuns(ImageFiles& files, const FileRecord& file, uint32_t cluster_size,
                      std::string* sha256, std::string* error) {
  Digests digests;
  uint64_t left = file.size;
  std::vector<uint8_t> zeros(cluster_size, 0);
  for (const StreamRun& run : file.runs) {
    if (left == 0) break;
    const uint64_t bytes = std::min<uint64_t>(left, run.clusters * cluster_size);
    if (run.lcn < 0) {
      for (uint64_t done = 0; done < bytes; done += zeros.size())
        digests.Add(zeros.data(), static_cast<std::size_t>(std::min<uint64_t>(zeros.size(), bytes - done)));
    } else {
      uint64_t taken = 0;
      const uint32_t code = files.ReadClusters(
          run.lcn, (bytes + cluster_size - 1) / cluster_size,
          [&](const uint8_t* data, std::size_t count) {
            const auto use = static_cast<std::size_t>(std::min<uint64_t>(count, bytes - taken));
            digests.Add(data, use);
            taken += use;
          },
          error);
      if (code) return code;
    }
    left -= bytes;
  }
  digests.Finish(sha256, nullptr);
  return kErrorSuccess;
}

// The step as the recipe check names it, counted from 0 (the progress
// lines count "step 1/N" for people).
std::string ScenarioBuild::StepPlace() const {
  return "steps[" + std::to_string(step_number_ - 1) + "]";
}

bool ScenarioBuild::Fail(const std::string& what) {
  if (error_.empty())
    error_ = step_number_ ? StepPlace() + ": " + what : what;
  return false;
}

bool ScenarioBuild::Failed(uint32_t code, const std::string& message) {
  return Fail(message.empty() ? ErrorMessage(code) : message);
}

void ScenarioBuild::Warn(const std::string& what) {
  const std::string line = StepPlace() + ": " + what;
  result_->warnings.push_back(line);
  if (progress_) std::fprintf(progress_, "  warning: %s\n", what.c_str());
}

FileRecord* ScenarioBuild::Live(const std::string& path, const std::string& stream) {
  auto found = live_files_.find(StreamKey(path, stream));
  return found == live_files_.end() ? nullptr : &result_->files[found->second];
}

bool ScenarioBuild::Capture(FileRecord* record) {
  std::string message;
  StreamFacts facts;
  if (const uint32_t code = builder_->Facts(record->path, record->stream, &facts, &message))
    return Failed(code, message);
  record->mft_record = facts.mft_record;
  record->size = facts.size;
  record->resident = facts.resident;
  record->runs = JoinRuns(facts.runs);
  Digests digests;
  if (const uint32_t code = builder_->Read(record->path, record->stream,
                                           [&](const uint8_t* bytes, std::size_t count) {
                                             digests.Add(bytes, count);
                                           },
                                           &message))
    return Failed(code, message);
  digests.Finish(&record->sha256, &record->md5);
  return true;
}

bool ScenarioBuild::Folder(const std::string& path) {
  // Each missing folder on the way, from the top.
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string folder = slash == std::string::npos ? path : path.substr(0, slash);
    if (!live_folders_.count(folder)) {
      if (Live(folder)) return Fail(folder + " is a file");
      std::string message;
      FolderRecord record;
      record.path = folder;
      if (const uint32_t code = builder_->MakeFolder(folder, &message)) return Failed(code, message);
      if (const uint32_t code = builder_->RecordNumber(folder, &record.mft_record, &message))
        return Failed(code, message);
      live_folders_[folder] = result_->folders.size();
      result_->folders.push_back(record);
    }
    if (slash == std::string::npos) return true;
  }
}

bool ScenarioBuild::Create(const FileRecipe& file, const std::vector<std::string>& notes, bool listed) {
  if (Live(file.path, file.stream))
    return Fail(file.path + (file.stream.empty() ? "" : ":" + file.stream) + " exists already");
  if (live_folders_.count(file.path)) return Fail(file.path + " is a folder");
  const std::size_t slash = file.path.rfind('/');
  if (slash > 0 && !Folder(file.path.substr(0, slash))) return false;

  std::string message;
  std::vector<std::string> record_notes = notes;
  uint64_t wanted_record = 0;
  if (!file.reuse_record_of.empty()) {
    const FileRecord* gone = nullptr;
    for (std::size_t index : deleted_)
      if (result_->files[index].path == file.reuse_record_of) gone = &result_->files[index];
    if (!gone) return Fail("\"reuse_record_of\": " + file.reuse_record_of + " was not deleted before");
    wanted_record = gone->mft_record;
    if (const uint32_t code = builder_->PreferRecord(wanted_record, &message))
      return Failed(code, message);
  }
  const FileContent& content = file.content;
  const uint64_t size = file.size;
  if (const uint32_t code = builder_->WriteStream(
          file.path, file.stream, size, file.data,
          [&](uint64_t offset, uint8_t* out, std::size_t count) {
            FillContent(content, size, offset, out, count);
          },
          &message))
    return Failed(code, message);

  FileRecord record;
  record.path = file.path;
  record.stream = file.stream;
  record.listed = listed;
  record.notes = record_notes;
  if (!file.data.empty()) record.notes.push_back("sparse: " + std::to_string(file.data.size()) + " data ranges");
  StreamFacts facts;
  if (const uint32_t code = builder_->Facts(file.path, file.stream, &facts, &message))
    return Failed(code, message);
  record.mft_record = facts.mft_record;
  Claim(facts.runs);
  if (!file.reuse_record_of.empty() && facts.mft_record != wanted_record)
    Warn(file.path + " asked for MFT record " + std::to_string(wanted_record) + " and got " +
         std::to_string(facts.mft_record));
  live_files_[StreamKey(file.path, file.stream)] = result_->files.size();
  result_->files.push_back(record);
  // A named stream makes the file too; its unnamed stream is empty.
  if (!file.stream.empty() && !Live(file.path)) {
    FileRecord unnamed;
    unnamed.path = file.path;
    unnamed.mft_record = facts.mft_record;
    unnamed.listed = listed;
    live_files_[StreamKey(file.path, "")] = result_->files.size();
    result_->files.push_back(unnamed);
  }
  return true;
}

bool ScenarioBuild::DeleteFile(const std::string& path, const std::string& why) {
  std::vector<std::size_t> streams;
  for (auto it = live_files_.lower_bound(StreamKey(path, ""));
       it != live_files_.end() && it->first.compare(0, path.size() + 1, path + '\n') == 0; ++it)
    streams.push_back(it->second);
  if (streams.empty()) return Fail(path + " is not a file this recipe made");
  for (std::size_t index : streams)
    if (!Capture(&result_->files[index])) return false;
  std::string message;
  if (const uint32_t code = builder_->Delete(path, &message)) return Failed(code, message);
  for (std::size_t index : streams) {
    FileRecord& record = result_->files[index];
    record.state = "deleted";
    if (!why.empty()) record.notes.push_back(why);
    if (!record.listed)
      for (std::size_t run = 0; run < record.runs.size(); ++run)
        if (record.runs[run].lcn >= 0)
          Leave(record.runs[run].lcn, {record.runs[run].clusters, record.path, record.stream,
                                       static_cast<uint32_t>(run + 1), "deleted file the manifest does not list"});
    live_files_.erase(StreamKey(record.path, record.stream));
    deleted_.push_back(index);
  }
  return true;
}

bool ScenarioBuild::Delete(const std::string& path, bool recursive) {
  auto folder = live_folders_.find(path);
  if (folder == live_folders_.end()) return DeleteFile(path, "");
  const std::string inside = path + "/";
  std::vector<std::string> files, folders;
  for (const auto& [key, index] : live_files_)
    if (key.compare(0, inside.size(), inside) == 0 && result_->files[index].stream.empty())
      files.push_back(result_->files[index].path);
  for (const auto& [name, index] : live_folders_)
    if (name.compare(0, inside.size(), inside) == 0) folders.push_back(name);
  if (!recursive && !(files.empty() && folders.empty()))
    return Fail(path + " is not empty: say \"recursive\": true to delete what it holds");
  for (const std::string& file : files)
    if (!DeleteFile(file, "in deleted folder " + file.substr(0, file.rfind('/')))) return false;
  // Deepest folders first.
  std::sort(folders.begin(), folders.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  folders.push_back(path);
  for (const std::string& name : folders) {
    std::string message;
    if (const uint32_t code = builder_->Delete(name, &message)) return Failed(code, message);
    FolderRecord& record = result_->folders[live_folders_[name]];
    record.state = "deleted";
    live_folders_.erase(name);
  }
  return true;
}

bool ScenarioBuild::Fragment(const Step& step) {
  FileRecord* before = Live(step.path);
  if (!before) return Fail(step.path + " is not a file this recipe made");
  if (!Capture(before)) return false;
  const std::vector<StreamRun> old_runs = before->runs;
  // Exactly what `shardix fragment PATH --count N --size S --method M --seed X` does.
  JobRecord analysis;
  FileSession session;
  const bool can_fragment = AnalyzeFile(session, image_ + step.path, analysis);
  if (!can_fragment) return Fail("fragment " + step.path + ": " + analysis.status());
  JobRecord job;
  FragmentJobParams params;
  if (!PrepareFragmentJob(job, std::to_string(step.count), analysis.Text(TextField::kMaxValue),
                          step.method, step.slider, &params))
    return Fail("fragment " + step.path + ": " + job.status());
  ShardixRandom random(step.seed);
  JobContext context{session.volume.get(), session.file.get(), &job, &random, stop_};
  const int outcome = RunFragmentJob(context, session, params);
  session = FileSession();  // its handles would keep the file's old runs in view
  FileRecord* record = Live(step.path);
  // Even a stopped or failed job may have moved pieces: their old places are
  // dealt with before anything else.
  if (!Capture(record)) return false;
  Claim(record->runs);
  if (!Freed(*record, old_runs, "left behind when the Fragment job moved it")) return false;
  if (outcome == kJobStopped) return Fail("stopped during the Fragment job on " + step.path);
  if (outcome == kFragmentFailed) return Fail("fragment " + step.path + ": " + job.status());
  record->notes.push_back("fragmented by the Fragment job: --count " + std::to_string(step.count) +
                          " --size " + std::to_string(step.slider) + " --method " +
                          PlacementMethodName(step.method) + " --seed " + std::to_string(step.seed));
  uint64_t pieces = 0;
  for (const StreamRun& run : record->runs) pieces += run.lcn >= 0;
  const std::string ended = outcome == kFragmentSucceeded ? "" : " (the job ended: " + job.status() + ")";
  if (pieces < step.count) {
    const std::string line = "fragment " + step.path + ": " + std::to_string(pieces) +
                             " fragments, not the " + std::to_string(step.count) + " asked for" + ended;
    record->notes.push_back(line.substr(line.find(": ") + 2));
    Warn(line);
  } else if (outcome != kFragmentSucceeded) {
    record->notes.push_back("the job ended: " + job.status());
    Warn("fragment " + step.path + ": " + job.status());
  }
  return true;
}

uint64_t ScenarioBuild::FreePieces() {
  std::vector<std::pair<int64_t, uint64_t>> runs;
  return FreeRuns(&runs) ? 0 : runs.size();
}

bool ScenarioBuild::Age(const Step& step) {
  if (!Folder(step.path)) return false;
  AgingSummary summary;
  summary.folder = step.path;
  summary.files_asked = step.age_files;
  summary.free_pieces_asked = step.free_pieces;
  ScenarioRandom random(recipe_.seed ^ (0xA6E0ull << 32) ^ step_number_);
  std::vector<std::string> live;
  int min_bits = 0, max_bits = 0;
  while ((uint64_t{2} << min_bits) <= step.min_size) ++min_bits;
  while ((uint64_t{2} << max_bits) <= step.max_size) ++max_bits;
  char name[32];
  summary.outcome = "created every file asked for";
  for (uint64_t n = 1; n <= step.age_files; ++n) {
    if (Stopped()) return Fail("stopped while ageing, after " + std::to_string(n - 1) + " files");
    // Sizes spread evenly over the powers of two between min and max.
    const int bits = min_bits + static_cast<int>(random.Below(static_cast<uint64_t>(max_bits - min_bits + 1)));
    uint64_t size = (uint64_t{1} << bits) + random.Below(uint64_t{1} << bits);
    size = std::clamp(size, step.min_size, step.max_size);
    std::snprintf(name, sizeof name, "/%07llu.bin", static_cast<unsigned long long>(n));
    FileRecipe file;
    file.path = step.path + name;
    file.size = size;
    file.content.seed = ContentSeed(recipe_.seed, file.path, "");
    if (!Create(file, {"ageing file"}, step.list)) {
      if (error_.find(ErrorMessage(kErrorDiskFull)) == std::string::npos) return false;
      // Full: the file that did not fit goes, and the ageing stops here.
      error_.clear();
      std::string message;
      StreamFacts partial;
      const bool written = builder_->Facts(file.path, "", &partial, &message) == kErrorSuccess;
      if (builder_->Delete(file.path, &message) != kErrorSuccess && !message.empty())
        return Fail(message);
      // What it wrote before the volume filled is wiped: free space keeps no
      // bytes the manifest does not account for.
      uint64_t zeroed = 0;
      for (const StreamRun& run : written ? partial.runs : std::vector<StreamRun>{})
        if (run.lcn >= 0)
          if (const uint32_t code = builder_->ZeroFreeClusters(run.lcn, run.clusters, &zeroed, &message))
            return Failed(code, message);
      summary.outcome = "stopped: the volume is full";
      Warn("age: the volume filled up after " + std::to_string(summary.files_created) + " files");
      break;
    }
    ++summary.files_created;
    live.push_back(file.path);
    if (progress_ && step.age_files >= 2000 && n % (step.age_files / 20) == 0)
      std::fprintf(progress_, "  %llu of %llu files\n", static_cast<unsigned long long>(n),
                   static_cast<unsigned long long>(step.age_files));
    if (live.size() > 1 && random.Below(100) < step.delete_percent) {
      const std::size_t victim = static_cast<std::size_t>(random.Below(live.size() - 1));
      if (!DeleteFile(live[victim], "")) return false;
      live.erase(live.begin() + static_cast<std::ptrdiff_t>(victim));
      ++summary.files_deleted;
    }
    if (step.free_pieces && (n % 16 == 0 || n == step.age_files) && FreePieces() >= step.free_pieces) {
      summary.outcome = "reached the free pieces asked for";
      break;
    }
  }
  summary.free_pieces = FreePieces();
  if (step.free_pieces && summary.free_pieces < step.free_pieces)
    Warn("age: free space is in " + std::to_string(summary.free_pieces) + " pieces, not the " +
         std::to_string(step.free_pieces) + " asked for");
  result_->aging.push_back(summary);
  return true;
}

bool ScenarioBuild::RunStep(const Step& step) {
  switch (step.kind) {
    case Step::Kind::kFolder: return Folder(step.path);
    case Step::Kind::kCreate: return Create(step.file, {});
    case Step::Kind::kFragment: return Fragment(step);
    case Step::Kind::kLayout: return Layout(step);
    case Step::Kind::kDelete: return Delete(step.path, step.recursive);
    case Step::Kind::kOverwrite: return Overwrite(step);
    case Step::Kind::kAge: return Age(step);
  }
  return Fail("unknown step");
}

bool ScenarioBuild::Finish() {
  for (const auto& [key, index] : live_files_) {
    FileRecord& record = result_->files[index];
    if (!Capture(&record)) return false;
    if (record.size == 0) record.notes.push_back("empty");
    else if (record.resident) record.notes.push_back("held in its MFT record (resident)");
    for (const StreamRun& run : record.runs)
      if (run.lcn < 0) {
        record.notes.push_back("has holes (sparse)");
        break;
      }
  }
  // The files each MFT record held, in the order made: a deleted file's
  // record was taken by the next of them.
  std::map<uint64_t, std::vector<std::size_t>> holders;
  for (std::size_t index = 0; index < result_->files.size(); ++index)
    if (result_->files[index].stream.empty()) holders[result_->files[index].mft_record].push_back(index);
  for (std::size_t index : deleted_) {
    FileRecord& record = result_->files[index];
    std::string message;
    const std::vector<std::size_t>& held = holders[record.mft_record];
    std::size_t next = held.size();
    for (std::size_t k = 0; k < held.size(); ++k)
      if (result_->files[held[k]].path == record.path) next = k + 1;
    const bool reused = next < held.size();
    if (reused) {
      FileRecord& holder = result_->files[held[next]];
      record.notes.push_back("MFT record reused by " + holder.path);
      if (record.stream.empty())
        holder.notes.push_back("takes MFT record " + std::to_string(record.mft_record) +
                               " of deleted " + record.path);
    }
    if (record.resident || record.runs.empty()) {
      if (reused && record.size > 0) record.state = "overwritten";
      continue;
    }
    // Its former clusters, read as they are now.
    std::string sha256;
    if (const uint32_t code =
            DigestOfRuns(*builder_, record, result_->geometry.cluster_size, &sha256, &message))
      return Failed(code, message);
    if (sha256 != record.sha256) record.state = "overwritten";
  }
  std::string message;
  const uint32_t cluster_size = result_->geometry.cluster_size;
  for (const auto& [key, index] : live_files_) {
    FileRecord& record = result_->files[index];
    if (!record.listed || record.resident) continue;
    if (const uint32_t code = DigestOfSlack(*builder_, record, cluster_size, &record.slack_sha256, &message))
      return Failed(code, message);
  }
  // Leftovers the file system has since taken for itself are in use, not
  // free space: only what is still free is a remnant.
  if (const uint32_t code = builder_->ClusterBitmap(&bitmap_, &message)) return Failed(code, message);
  const auto in_use = [&](int64_t lcn) { return (bitmap_[static_cast<std::size_t>(lcn >> 3)] >> (lcn & 7)) & 1; };
  for (const auto& [first, leftover] : leftovers_) {
    const int64_t end = first + static_cast<int64_t>(leftover.clusters);
    for (int64_t lcn = first; lcn < end;) {
      if (in_use(lcn)) {
        ++lcn;
        continue;
      }
      int64_t stop = lcn;
      while (stop < end && !in_use(stop)) ++stop;
      Remnant remnant{leftover.path, leftover.stream, leftover.part, lcn,
                      static_cast<uint64_t>(stop - lcn), "", leftover.why};
      if (const uint32_t code = DigestOfClusters(*builder_, lcn, remnant.clusters, &remnant.sha256, &message))
        return Failed(code, message);
      result_->remnants.push_back(remnant);
      lcn = stop;
    }
  }
  return true;
}

bool ScenarioBuild::Run(std::string* error) {
  NtfsFormat format;
  format.cluster_size = recipe_.cluster_size;
  format.sector_size = recipe_.sector_size;
  format.label = recipe_.label;
  format.zero_time = true;
  // A second early: the clock's stamps carry fractions of it.
  const int64_t started = static_cast<int64_t>(std::time(nullptr)) - 1;
  if (!FormatNewImage(image_, recipe_.volume_bytes, format, error)) return false;
  bool ok = true;
  {
    std::string message;
    if (const uint32_t code = OpenImageBuilder(image_, &builder_, &message)) {
      ok = Failed(code, message);
    } else {
      result_->geometry = builder_->geometry();
      result_->serial_number = ScenarioRandom(recipe_.seed ^ 0x5E7A1ull).Next();
      if (const uint32_t code = builder_->SetSerialNumber(result_->serial_number, &message))
        ok = Failed(code, message);
    }
    for (std::size_t i = 0; ok && i < recipe_.steps.size(); ++i) {
      step_number_ = i + 1;
      if (Stopped()) {
        ok = Fail("stopped before this step");
        break;
      }
      const Step& step = recipe_.steps[i];
      if (progress_) {
        std::string what = step.path;
        for (const LayoutItem& item : step.arrange)
          if (!item.path.empty() && what.find(item.path) == std::string::npos)
            what += (what.empty() ? "" : ", ") + item.path;
        std::fprintf(progress_, "step %zu/%zu: %s %s\n", step_number_, recipe_.steps.size(),
                     step.op.c_str(), what.c_str());
      }
      ok = RunStep(step);
    }
    step_number_ = 0;
    if (ok) ok = Finish();
    builder_.reset();  // the last handle: the mount is written back here
  }
  // Every time stamp the library wrote comes from the recipe, set on a
  // mount of its own once the build's changes are on the image.
  if (ok) {
    std::string message;
    std::unique_ptr<ImageBuilder> pinning;
    uint32_t code = OpenImageBuilder(image_, &pinning, &message);
    if (!code) code = pinning->PinTimeStamps(started, recipe_.time, &message);
    pinning.reset();
    if (code) ok = Failed(code, message);
  }
  if (!ok) {
    *error = error_;
    return false;
  }
  // The image as written back, region by region.
  if (progress_) {
    std::fprintf(progress_, "hashing the image\n");
    std::fflush(progress_);
  }
  result_->bitmap = bitmap_;
  if (recipe_.partition_table.empty())
    return ImageRegions(image_, result_->geometry, bitmap_, result_->files, stop_, &result_->digests, error);
  const DiskShape disk{recipe_.partition_table, recipe_.volume_offset, recipe_.sector_size, recipe_.volume_bytes,
                       recipe_.seed};
  return WrapVolumeInDisk(image_, disk, stop_, error) &&
         ImageRegions(image_, result_->geometry, bitmap_, result_->files, stop_, &result_->digests, error,
                      disk.offset, disk.volume_bytes);
}

bool BuildScenario(const Recipe& recipe, const std::string& image, ScenarioResult* result,
                   FILE* progress, const std::atomic<bool>* stop, std::string* error) {
  *result = ScenarioResult();
  return ScenarioBuild(recipe, image, result, progress, stop).Run(error);
}

}  // namespace shardix::scenario
