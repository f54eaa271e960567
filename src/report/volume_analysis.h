// The whole-volume analysis: the allocation bitmap cut into runs of used and
// free clusters, with the volume's totals, its longest runs and a table of
// its longest free runs.
#pragma once

#include <cstdint>
#include <string>

#include "display/display.h"
#include "volume/volume.h"

namespace shardix {

// One free run of the volume.
struct FreeRun {
  uint64_t lcn = 0;
  uint64_t length = 0;
  bool operator==(const FreeRun&) const = default;
};

enum class VolumeAnalysisMode {
  kFillLists,  // one allocation row per run and the six summary rows
  kQuiet,      // nothing shown but the error boxes
};

// Reads the bitmap of `volume` once and walks it from cluster 0.
//
// `free_total`, when given, receives the number of free clusters (only on
// success). `free_runs`, when given, is a table of `count` records that is
// cleared on entry and, on success, holds the `count` longest free runs,
// longest first; records beyond the volume's free runs stay zero at the end.
//
// Returns 0, or -1 after an error box without owner window.
int AnalyzeVolume(Volume* volume, Display& display, VolumeAnalysisMode mode,
                  uint64_t* free_total = nullptr, FreeRun* free_runs = nullptr,
                  uint64_t count = 0);

// The summary value of the cluster size: "%.0f KB" from 10 000 bytes up,
// "%.0f Bytes" below.
std::string FormatClusterSize(uint32_t cluster_size);

// The "Disk Report for:" title of a volume.
std::string VolumeReportTitle(const Volume& volume);

}  // namespace shardix
