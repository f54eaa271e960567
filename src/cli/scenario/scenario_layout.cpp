// Explicit layouts: files written whole, then their pieces moved through the
// volume layer to places picked from the free clusters by the recipe's seed.
#include <algorithm>
#include <map>

#include "cli/scenario/content.h"
#include "cli/scenario/scenario_build.h"
#include "report/bitmap_runs.h"
#include "volume/error_codes.h"

namespace shardix::cli {

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

bool ScenarioBuild::FreeRegion(uint64_t clusters, uint64_t salt, int64_t* lcn) {
  std::vector<std::pair<int64_t, uint64_t>> runs;
  if (const uint32_t code = FreeRuns(&runs)) return Failed(code, "");
  // Every free run long enough, then one of them and a place in it by the seed.
  std::erase_if(runs, [clusters](const auto& run) { return run.second < clusters; });
  if (runs.empty())
    return Fail("no free run of " + std::to_string(clusters) + " clusters is left for the layout");
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
  int64_t region = 0;
  if (!FreeRegion(length, step_number_, &region)) return false;
  for (std::size_t i = 0; i < order.size(); ++i) {
    Piece& piece = *order[i];
    piece.lcn = region + offsets[i];
    if (!Move(piece.path, piece.vcn, piece.lcn, piece.clusters)) return false;
  }

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
  if (!Create(file, {"covers run " + piece_names + " of deleted " + step.deleted})) return false;
  FileRecord* record = Live(file.path);
  if (!Capture(record)) return false;
  if (record->resident) return Fail(file.path + " is too small to leave its file record");

  // When the file was written over part of the targets, it moves away first.
  auto overlaps = [&](const StreamRun& a, const StreamRun& b) {
    return a.lcn < b.lcn + static_cast<int64_t>(b.clusters) && b.lcn < a.lcn + static_cast<int64_t>(a.clusters);
  };
  bool in_the_way = false;
  for (const StreamRun& run : record->runs)
    for (const StreamRun& target : targets) in_the_way |= run.lcn >= 0 && overlaps(run, target);
  if (in_the_way) {
    int64_t away = 0;
    if (!FreeRegion(clusters, step_number_ + 0x100000, &away) || !Move(file.path, 0, away, clusters))
      return false;
  }
  int64_t vcn = 0;
  for (const StreamRun& target : targets) {
    if (!Move(file.path, vcn, target.lcn, target.clusters)) return false;
    vcn += static_cast<int64_t>(target.clusters);
  }
  result_->files[gone_index].notes.push_back("run " + piece_names + " taken by " + file.path);
  return true;
}

}  // namespace shardix::cli
