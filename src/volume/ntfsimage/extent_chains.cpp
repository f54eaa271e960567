// Each attribute's extents, gathered from every record that holds one, must
// cover its VCNs from 0 to the allocated size once each.
#include "volume/checked_math.h"
#include "volume/ntfsimage/scan_parts.h"
#include "volume/ntfsimage/ntfs_headers.h"

namespace shardix::ntfsimage {

void ExtentChains::Add(uint64_t base, const ATTR_RECORD* a, const std::string& name,
                       VCN decoded_end, const std::string& where, ConsistencyReport* report) {
  Piece piece;
  piece.lowest = sle64_to_cpu(a->lowest_vcn);
  piece.highest = sle64_to_cpu(a->highest_vcn);
  piece.decoded_end = decoded_end;
  if (piece.lowest == 0) piece.allocated_size = sle64_to_cpu(a->allocated_size);
  piece.where = where;
  auto& pieces = pieces_[Key{base, le32_to_cpu(a->type), name}];
  if (pieces.size() < ConsistencyReport::kMaxSpans) pieces.push_back(std::move(piece));
  else ++report->unlisted_problems;
}

void ExtentChains::Check(const ntfs_volume* vol, ConsistencyReport* report) {
  for (auto& [key, pieces] : pieces_) {
    const auto& [base, type, name] = key;
    std::sort(pieces.begin(), pieces.end(),
              [](const Piece& x, const Piece& y) { return x.lowest < y.lowest; });
    VCN expected = 0;
    s64 allocated = -1;
    for (const Piece& piece : pieces) {
      if (piece.lowest != expected)
        AddChainProblem(report, base, type, name,
                        piece.where + ": extent starts at VCN " + std::to_string(piece.lowest) +
                            ", expected " + std::to_string(expected));
      VCN after_highest = 0;
      if (!CheckedAdd(piece.highest, 1, &after_highest) || piece.decoded_end != after_highest)
        AddChainProblem(report, base, type, name,
                        piece.where + ": runs end at VCN " + std::to_string(piece.decoded_end) +
                            ", the record says " + std::to_string(piece.highest) + " + 1");
      if (piece.allocated_size >= 0) allocated = piece.allocated_size;
      expected = after_highest;
    }
    if (allocated < 0) {
      AddChainProblem(report, base, type, name, "no extent starts at VCN 0");
      continue;
    }
    const VCN allocated_clusters = allocated >> vol->cluster_size_bits;
    if (expected != allocated_clusters)
      AddChainProblem(report, base, type, name,
                      "extents cover " + std::to_string(expected) +
                          " clusters, the allocated size is " + std::to_string(allocated_clusters));
  }
}

}  // namespace shardix::ntfsimage
