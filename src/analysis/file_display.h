// The result display of an analysis: texts, "% Fragmented", the cluster
// bars and the "Max:" value.
#pragma once

#include <cstdint>
#include <string>

#include "display/display.h"

namespace shardix {

// Empties every result field, the list, the bars, progress and status.
void ResetFileDisplay(Display& display);

// The file name (last part of `path`) and the size line.
void ShowFileInfo(Display& display, const std::string& path, uint64_t file_size,
                  uint64_t fragment_count, uint64_t cluster_count);

// "%.5f%%" of the fragmentation figure, or empty when any value is missing.
void ShowPercentFragmented(Display& display, TextField field, uint64_t fragment_count,
                           uint64_t cluster_count, uint64_t volume_cluster_count,
                           uint64_t lcn_span);

// Draws the fragment list's rows (sampled to at most 99) onto a bar.
void DrawFileBar(Display& display, ClusterBar bar, uint64_t volume_cluster_count);
// Fills one run of clusters on a bar, at least one pixel wide.
void DrawClusterBar(Display& display, ClusterBar bar, uint64_t first_lcn, uint64_t cluster_count,
                    uint64_t volume_cluster_count);
void ClearClusterBar(Display& display, ClusterBar bar);

// The "Max:" value and the fragment count's range.
void ShowMaxFragments(Display& display, uint64_t fragment_count, uint64_t cluster_count);

// The pieces, for the command line and the tests.
std::string FormatSizeText(uint64_t file_size);
std::string FormatFileSizeLine(uint64_t file_size, uint64_t fragment_count, uint64_t cluster_count);
float PercentFragmented(uint64_t fragment_count, uint64_t cluster_count,
                        uint64_t volume_cluster_count, uint64_t lcn_span);
std::string FormatPercent(float percent);
std::string FileNameOfPath(const std::string& path);
struct BarSpan {
  int left;
  int right;
};
BarSpan ClusterBarSpan(int width, uint64_t first_lcn, uint64_t cluster_count,
                       uint64_t volume_cluster_count);

}  // namespace shardix
