// Explicit layouts: files written whole, then their pieces moved through the
// volume layer to places picked from the free clusters by the recipe's seed.
#include <algorithm>
#include <map>

#include "scenario/content.h"
#include "scenario/scenario_build.h"
#include "report/bitmap_runs.h"
#include "volume/error_codes.h"

namespace shardix::scenario {

namespace {

struct Piece {
  std::string path;
  uint32_t number = 0;  // 1-based
  uint32_t of = 1;
  int64_t vcn = 0;
  uint64_t clusters = 0;
  int64_t lcn = -1;  // where it goes
};

std::string PartText(const Piece& piece) {
  return "part " + std::to_string(piece.number) + " of " + std::to_string(piece.of) + " at cluster " +
         std::to_string(piece.lcn) + " (" + std::to_string(piece.clusters) + " clusters)";
}

}  // namespace

uint32_t ScenarioBuild::FreeRuns(std::vector<std::pair<int64_t, uint64_t>>* runs) {
  runs->clear();
  std::unique_ptr<Volume> volume;
  if (const uint32_t code = OpenVolumeByPath(image_, &volume)) return code;
  // The header gives the bitmap's size; then the whole bitmap in one read.
  VolumeBitmapBuffer header{};
  std::size_t returned = 0;
  uint32_t code = volume->GetVolumeBitmap(0, &header, sizeof header, &returned);
  if (code != kErrorSuccess && code != kErrorMoreData) return code;
  if (header.bitmap_size < 0 || header.starting_lcn != 0) return kErrorInvalidData;
  const uint64_t clusters = static_cast<uint64_t>(header.bitmap_size);
  std::vector<uint8_t> block(std::max(sizeof header, kVolumeBitmapHeaderSize + (clusters + 7) / 8));
  if ((code = volume->GetVolumeBitmap(0, block.data(), block.size(), &returned))) return code;
  std::vector<AllocationRow> rows;
  RunWalker walker(clusters, &rows, nullptr);
  walker.Feed(block.data() + kVolumeBitmapHeaderSize, (clusters + 7) / 8, 0);
  walker.Finish();
  for (const AllocationRow& row : rows)
    if (!row.in_use) runs->emplace_back(static_cast<int64_t>(row.first_lcn), row.length);
  return kErrorSuccess;
}

void ScenarioBuild::Claim(int64_t lcn, uint64_t clusters) {
  const int64_t end = lcn + static_cast<int64_t>(clusters);
  auto it = leftovers_.lower_bound(lcn);
  if (it != leftovers_.begin()) --it;
  while (it != leftovers_.end() && it->first < end) {
    const int64_t first = it->first, last = first + static_cast<int64_t>(it->second.clusters);
    if (last <= lcn) {
      ++it;
      continue;
    }
    const Leftover kept = it->second;
    it = leftovers_.erase(it);
    if (first < lcn) {
      Leftover head = kept;
      head.clusters = static_cast<uint64_t>(lcn - first);
      leftovers_.emplace(first, head);
    }
    if (last > end) {
      Leftover tail = kept;
      tail.clusters = static_cast<uint64_t>(last - end);
      it = leftovers_.emplace(end, tail).first;
      break;
    }
  }
}

void ScenarioBuild::Claim(const std::vector<StreamRun>& runs) {
  for (const StreamRun& run : runs)
    if (run.lcn >= 0) Claim(run.lcn, run.clusters);
}

void ScenarioBuild::Leave(int64_t lcn, const Leftover& leftover) {
  Claim(lcn, leftover.clusters);
  leftovers_.emplace(lcn, leftover);
}

bool ScenarioBuild::Freed(const FileRecord& record, const std::vector<StreamRun>& before,
                          const std::string& why) {
  std::vector<std::pair<int64_t, uint64_t>> free_runs;
  if (const uint32_t code = FreeRuns(&free_runs)) return Failed(code, "");
  for (std::size_t run = 0; run < before.size(); ++run) {
    const StreamRun& old = before[run];
    if (old.lcn < 0) continue;
    if (!recipe_.keep_freed) {
      uint64_t zeroed = 0;
      std::string message;
      if (const uint32_t code = builder_->ZeroFreeClusters(old.lcn, old.clusters, &zeroed, &message))
        return Failed(code, message);
      continue;
    }
    // The parts of the old run that are free now hold their old bytes.
    const int64_t end = old.lcn + static_cast<int64_t>(old.clusters);
    for (const auto& [first, length] : free_runs) {
      const int64_t from = std::max(first, old.lcn);
      const int64_t to = std::min(first + static_cast<int64_t>(length), end);
      if (from < to)
        Leave(from, {static_cast<uint64_t>(to - from), record.path, record.stream,
                     static_cast<uint32_t>(run + 1), "copy " + why});
    }
  }
  return true;
}

bool ScenarioBuild::FreeRegion(uint64_t clusters, uint64_t salt, int64_t* lcn, bool zeros_only) {
  std::vector<std::pair<int64_t, uint64_t>> runs;
  if (const uint32_t code = FreeRuns(&runs)) return Failed(code, "");
  // Free space that holds bytes: deleted files and leftovers.
  std::vector<std::pair<int64_t, int64_t>> held;
  for (std::size_t index : deleted_)
    for (const StreamRun& run : result_->files[index].runs)
      if (run.lcn >= 0) held.emplace_back(run.lcn, run.lcn + static_cast<int64_t>(run.clusters));
  for (const auto& [first, leftover] : leftovers_)
    held.emplace_back(first, first + static_cast<int64_t>(leftover.clusters));
  std::sort(held.begin(), held.end());
  std::vector<std::pair<int64_t, uint64_t>> clean;
  std::size_t next = 0;
  for (const auto& [first, length] : runs) {
    int64_t at = first;
    const int64_t end = first + static_cast<int64_t>(length);
    while (next < held.size() && held[next].second <= at) ++next;
    for (std::size_t k = next; k < held.size() && held[k].first < end && at < end; ++k) {
      if (held[k].second <= at) continue;
      if (held[k].first > at) clean.emplace_back(at, static_cast<uint64_t>(held[k].first - at));
      at = std::max(at, held[k].second);
    }
    if (at < end) clean.emplace_back(at, static_cast<uint64_t>(end - at));
  }
  const auto too_short = [clusters](const auto& run) { return run.second < clusters; };
  std::erase_if(clean, too_short);
  std::erase_if(runs, too_short);
  if (!clean.empty() || zeros_only) runs = clean;
  if (runs.empty())
    return Fail("no free run of " + std::to_string(clusters) + " clusters is left" +
                (zeros_only ? " outside deleted files" : " for the layout"));
  ScenarioRandom random(recipe_.seed ^ Mix64(salt));
  const auto& run = runs[static_cast<std::size_t>(random.Below(runs.size()))];
  *lcn = run.first + static_cast<int64_t>(random.Below(run.second - clusters + 1));
  return true;
}

bool ScenarioBuild::Move(const std::string& path, int64_t vcn, int64_t lcn, uint64_t clusters) {
  std::unique_ptr<Volume> volume;
  std::unique_ptr<VolumeFile> file;
  if (const uint32_t code = OpenVolumeByPath(image_ + path, &volume))
    return Failed(code, "opening the volume of " + path + ": " + ErrorMessage(code));
  if (const uint32_t code = OpenFileByPath(image_ + path, &file))
    return Failed(code, "opening " + path + ": " + ErrorMessage(code));
  for (uint64_t done = 0; done < clusters;) {
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(clusters - done, 0x80000000u));
    if (const uint32_t code = volume->MoveClusters(*file, vcn + static_cast<int64_t>(done),
                                                   lcn + static_cast<int64_t>(done), count))
      return Fail("moving " + std::to_string(count) + " clusters of " + path + " to cluster " +
                  std::to_string(lcn + static_cast<int64_t>(done)) + ": " + ErrorMessage(code));
    done += count;
  }
  return true;
}

bool ScenarioBuild::Layout(const Step& step) {
  // How each file named in the layout is cut.
  std::map<std::string, std::vector<Piece>> pieces;
  auto cut = [&](const std::string& path, const LayoutSplit* split) -> bool {
    FileRecord* record = Live(path);
    if (!record) return Fail(path + " is not a file this recipe made");
    if (!Capture(record)) return false;
    uint64_t total = 0;
    for (const StreamRun& run : record->runs) {
      if (run.lcn < 0) return Fail(path + " has holes; a layout moves files without them");
      total += run.clusters;
    }
    if (total == 0) return Fail(path + " is held in its file record and has no clusters to lay out");
    std::vector<uint64_t> sizes;
    if (split && !split->piece_clusters.empty()) {
      sizes = split->piece_clusters;
      uint64_t sum = 0;
      for (uint64_t size : sizes) sum += size;
      if (sum != total)
        return Fail("the pieces of " + path + " come to " + std::to_string(sum) + " clusters; it has " +
                    std::to_string(total));
    } else {
      const uint64_t count = split ? split->pieces : 1;
      if (count > total) return Fail(path + " has only " + std::to_string(total) + " clusters");
      for (uint64_t i = 0; i < count; ++i) sizes.push_back(total / count + (i < total % count ? 1 : 0));
    }
    int64_t vcn = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      pieces[path].push_back({path, static_cast<uint32_t>(i + 1), static_cast<uint32_t>(sizes.size()),
                              vcn, sizes[i], -1});
      vcn += static_cast<int64_t>(sizes[i]);
    }
    return true;
  };
  for (const LayoutSplit& split : step.split)
    if (!cut(split.path, &split)) return false;
  for (const LayoutItem& item : step.arrange)
    if (!item.path.empty() && !pieces.count(item.path) && !cut(item.path, nullptr)) return false;

  // The order on the volume, and its length.
  std::vector<Piece*> order;
  std::vector<int64_t> offsets;
  std::vector<bool> gap_before;  // a gap of free clusters just before the piece
  uint64_t length = 0;
  bool gap = false;
  for (const LayoutItem& item : step.arrange) {
    if (item.path.empty()) {
      length += item.gap;
      gap = true;
      continue;
    }
    gap_before.push_back(gap);
    gap = false;
    std::vector<Piece>& cuts = pieces[item.path];
    if (item.piece == 0 && cuts.size() != 1)
      return Fail(item.path + " is split: name its pieces as " + item.path + "#1 ...");
    const uint32_t number = item.piece == 0 ? 1 : item.piece;
    if (number > cuts.size())
      return Fail(item.path + " has " + std::to_string(cuts.size()) + " pieces, not " + std::to_string(number));
    order.push_back(&cuts[number - 1]);
    offsets.push_back(static_cast<int64_t>(length));
    length += cuts[number - 1].clusters;
  }
  std::map<std::string, std::vector<StreamRun>> old_runs;
  for (const auto& [path, cuts] : pieces) old_runs[path] = Live(path)->runs;
  int64_t region = 0;
  if (!FreeRegion(length, step_number_, &region)) return false;
  bool moved = true;
  for (std::size_t i = 0; moved && i < order.size(); ++i) {
    Piece& piece = *order[i];
    piece.lcn = region + offsets[i];
    moved = Move(piece.path, piece.vcn, piece.lcn, piece.clusters);
  }
  // Where the pieces came from, moved or not yet.
  for (const auto& [path, runs] : old_runs) {
    FileRecord* record = Live(path);
    if (!Capture(record)) return false;
    Claim(record->runs);
    if (!Freed(*record, runs, "left behind when a layout moved it")) return false;
  }
  if (!moved) return false;

  // What the layout means to a carver, in words.
  for (auto& [path, cuts] : pieces) {
    FileRecord* record = Live(path);
    std::vector<std::size_t> at;  // positions in `order` of this file's pieces
    for (std::size_t i = 0; i < order.size(); ++i)
      if (order[i]->path == path) at.push_back(i);
    if (at.empty()) continue;
    if (cuts.size() > 1) {
      std::string sequence;
      bool in_order = true;
      for (std::size_t k = 0; k < at.size(); ++k) {
        sequence += (k ? " " : "") + std::to_string(order[at[k]]->number);
        if (k && order[at[k]]->number < order[at[k - 1]]->number) in_order = false;
      }
      bool gaps = false;
      for (std::size_t k = 1; k < at.size(); ++k)
        for (std::size_t i = at[k - 1] + 1; i <= at[k]; ++i) gaps = gaps || gap_before[i];
      record->notes.push_back("in " + std::to_string(cuts.size()) + " parts, " +
                              (in_order ? "in order" : "out of order (" + sequence + ")") +
                              " on the volume" +
                              (gaps ? ", with free clusters between them" : ""));
      for (const Piece& piece : cuts)
        if (piece.lcn >= 0) record->notes.push_back(PartText(piece));
    }
    // Other files between this one's first and last piece.
    if (at.size() < 2) continue;
    std::map<std::string, std::pair<int, int>> between;  // inside, outside counts
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (order[i]->path == path) continue;
      const bool inside = i > at.front() && i < at.back();
      auto& counts = between[order[i]->path];
      (inside ? counts.first : counts.second)++;
    }
    for (const auto& [other, counts] : between) {
      if (counts.first == 0) continue;
      if (counts.second == 0 && pieces[other].size() == static_cast<std::size_t>(counts.first)) {
        record->notes.push_back("holds " + other + " nested between its parts");
        Live(other)->notes.push_back("nested inside " + path);
      } else {
        record->notes.push_back("braided with " + other);
      }
    }
  }
  return true;
}

bool ScenarioBuild::Overwrite(const Step& step) {
  std::size_t gone_index = result_->files.size();
  for (std::size_t index : deleted_)
    if (result_->files[index].path == step.deleted && result_->files[index].stream.empty())
      gone_index = index;
  if (gone_index == result_->files.size()) return Fail(step.deleted + " was not deleted before");
  // A copy: creating the new file below may move the records in memory.
  const FileRecord gone_record = result_->files[gone_index];
  const FileRecord* gone = &gone_record;
  std::vector<StreamRun> targets;
  uint64_t clusters = 0;
  for (uint32_t number : step.pieces) {
    if (number > gone->runs.size() || gone->runs[number - 1].lcn < 0)
      return Fail(step.deleted + " had " + std::to_string(gone->runs.size()) + " runs; run " +
                  std::to_string(number) + " is not one of its clusters");
    targets.push_back(gone->runs[number - 1]);
    clusters += gone->runs[number - 1].clusters;
  }
  FileRecipe file = step.file;
  const uint64_t cluster_size = result_->geometry.cluster_size;
  if (!file.size_given) file.size = clusters * cluster_size;
  if (file.size > clusters * cluster_size || file.size <= (clusters - 1) * cluster_size)
    return Fail("the file over " + step.deleted + " must fill its " + std::to_string(clusters) +
                " clusters: give a size from " + std::to_string((clusters - 1) * cluster_size + 1) +
                " to " + std::to_string(clusters * cluster_size));
  std::string piece_names;
  for (uint32_t number : step.pieces) piece_names += (piece_names.empty() ? "" : ", ") + std::to_string(number);
  // The runs must still be free: a file written since may have taken them.
  std::vector<std::pair<int64_t, uint64_t>> free_runs;
  if (const uint32_t code = FreeRuns(&free_runs)) return Failed(code, "");
  for (std::size_t k = 0; k < targets.size(); ++k) {
    const StreamRun& target = targets[k];
    const bool free = std::any_of(free_runs.begin(), free_runs.end(), [&](const auto& run) {
      return run.first <= target.lcn &&
             target.lcn + static_cast<int64_t>(target.clusters) <= run.first + static_cast<int64_t>(run.second);
    });
    if (!free)
      return Fail("run " + std::to_string(step.pieces[k]) + " of deleted " + step.deleted +
                  " is no longer free: a later file took clusters of it");
  }
  // The new file can take only the runs' clusters: the rest of free space
  // is fenced off while it is written.
  // Its folder first: a folder's index may need clusters of its own.
  const std::size_t slash = file.path.rfind('/');
  if (slash > 0 && !Folder(file.path.substr(0, slash))) return false;
  std::string message;
  if (const uint32_t code = builder_->Fence(targets, &message)) return Failed(code, message);
  const bool created = Create(file, {"covers run " + piece_names + " of deleted " + step.deleted});
  if (const uint32_t code = builder_->Unfence(&message)) return Failed(code, message);
  if (!created) return false;
  FileRecord* record = Live(file.path);
  if (!Capture(record)) return false;
  if (record->resident) return Fail(file.path + " is too small to leave its file record");
  std::vector<StreamRun> wanted;
  int64_t vcn = 0;
  for (StreamRun target : targets) {
    target.vcn = vcn;
    vcn += static_cast<int64_t>(target.clusters);
    wanted.push_back(target);
  }
  wanted = JoinRuns(wanted);
  const auto same = [](const StreamRun& a, const StreamRun& b) { return a.lcn == b.lcn && a.clusters == b.clusters; };
  if (!std::equal(record->runs.begin(), record->runs.end(), wanted.begin(), wanted.end(), same)) {
    // The library filled the runs in another order: the file goes whole to
    // free space that holds only zeros, then piece by piece into the runs,
    // and its stay there is wiped.
    int64_t scratch = 0;
    if (!FreeRegion(clusters, step_number_ + 0x100000, &scratch, true)) return false;
    bool moved = Move(file.path, 0, scratch, clusters);
    vcn = 0;
    for (std::size_t k = 0; moved && k < targets.size(); ++k) {
      moved = Move(file.path, vcn, targets[k].lcn, targets[k].clusters);
      vcn += static_cast<int64_t>(targets[k].clusters);
    }
    uint64_t zeroed = 0;
    if (const uint32_t code = builder_->ZeroFreeClusters(scratch, clusters, &zeroed, &message))
      return Failed(code, message);
    if (!moved || !Capture(record)) return false;
    Claim(record->runs);
  }
  result_->files[gone_index].notes.push_back("run " + piece_names + " taken by " + file.path);
  return true;
}

}  // namespace shardix::scenario
