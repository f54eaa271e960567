#include "analysis/file_display.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "analysis/extent_scan.h"

namespace shardix {

namespace {

std::string Format(const char* format, ...) {
  char text[kTextBufferSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

BarColour ColourOf(ClusterBar bar) { return bar == ClusterBar::kBefore ? BarColour::kBlue : BarColour::kRed; }

}  // namespace

void ClearClusterBar(Display& display, ClusterBar bar) {
  display.FillBar(bar, 0, display.BarWidth(bar), BarColour::kWhite);
}

void ResetFileDisplay(Display& display) {
  ClearClusterBar(display, ClusterBar::kBefore);
  display.SetText(TextField::kPercentBefore, "");
  ClearClusterBar(display, ClusterBar::kAfter);
  display.SetText(TextField::kPercentAfter, "");
  display.SetText(TextField::kFileName, "");
  display.SetText(TextField::kFileSize, "");
  display.ClearFragmentList();
  display.SetProgress(0);
  display.SetStatusText("");
  display.SetText(TextField::kMaxValue, "");
}

std::string FileNameOfPath(const std::string& path) {
  std::size_t cut = path.find_last_of("/\\:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FormatSizeText(uint64_t file_size) {
  int64_t s = static_cast<int64_t>(file_size);
  if (s < 1000) return Format("%.0f Bytes", static_cast<double>(s));
  if (static_cast<double>(s) / 1024 < 1000) return Format("%.1f KB", static_cast<double>(s) / 1024);
  return Format("%.1f MB", static_cast<double>(s) / 1048576);
}

std::string FormatFileSizeLine(uint64_t file_size, uint64_t fragment_count, uint64_t cluster_count) {
  std::string size = FormatSizeText(file_size);
  if (file_size != 0 && cluster_count < 1)
    return Format("%s (stored in Master File Table)", size.c_str());
  return Format("%s (%" PRIu64 " Clusters) in %" PRIu64 " fragments", size.c_str(), cluster_count,
                fragment_count);
}

void ShowFileInfo(Display& display, const std::string& path, uint64_t file_size,
                  uint64_t fragment_count, uint64_t cluster_count) {
  display.SetText(TextField::kFileName, FileNameOfPath(path));
  display.SetText(TextField::kFileSize, FormatFileSizeLine(file_size, fragment_count, cluster_count));
}

float PercentFragmented(uint64_t fragment_count, uint64_t cluster_count,
                        uint64_t volume_cluster_count, uint64_t lcn_span) {
  if (cluster_count == 0 || volume_cluster_count == 0) return 0;
  // Each intermediate is kept in single precision, as the figure has always
  // been computed; the arithmetic between them is double.
  float p = static_cast<float>(static_cast<double>(lcn_span) / static_cast<double>(volume_cluster_count));
  float product = static_cast<float>(static_cast<double>(fragment_count) * static_cast<double>(cluster_count));
  float root = static_cast<float>(std::sqrt(static_cast<double>(product)));
  float q = static_cast<float>(static_cast<double>(root) * static_cast<double>(p) /
                               static_cast<double>(cluster_count));
  return static_cast<float>(static_cast<double>(q) * 100);
}

std::string FormatPercent(float percent) { return Format("%.5f%%", static_cast<double>(percent)); }

void ShowPercentFragmented(Display& display, TextField field, uint64_t fragment_count,
                           uint64_t cluster_count, uint64_t volume_cluster_count,
                           uint64_t lcn_span) {
  if (fragment_count == kNoValue || cluster_count == kNoValue || volume_cluster_count == kNoValue ||
      lcn_span == kNoValue) {
    display.SetText(field, "");
    return;
  }
  display.SetText(field, FormatPercent(PercentFragmented(fragment_count, cluster_count,
                                                         volume_cluster_count, lcn_span)));
}

BarSpan ClusterBarSpan(int width, uint64_t first_lcn, uint64_t cluster_count,
                       uint64_t volume_cluster_count) {
  float scale = static_cast<float>(static_cast<double>(width) / static_cast<double>(volume_cluster_count));
  // Held in 64 bits and kept within the bar, so a run can never wrap around
  // to the other side.
  auto to_pixel = [&](double clusters) {
    double pixel = std::trunc(clusters * static_cast<double>(scale));
    return static_cast<int>(std::clamp(pixel, 0.0, static_cast<double>(width)));
  };
  BarSpan span{to_pixel(static_cast<double>(first_lcn)),
               to_pixel(static_cast<double>(first_lcn) + static_cast<double>(cluster_count))};
  if (span.right - span.left <= 0) span.right += 1;
  return span;
}

void DrawClusterBar(Display& display, ClusterBar bar, uint64_t first_lcn, uint64_t cluster_count,
                    uint64_t volume_cluster_count) {
  // Without a volume there is no scale, and a hole has no place on the
  // volume: nothing to draw.
  if (volume_cluster_count == 0 || volume_cluster_count == kNoValue || first_lcn == kNoValue) return;
  BarSpan span = ClusterBarSpan(display.BarWidth(bar), first_lcn, cluster_count, volume_cluster_count);
  display.FillBar(bar, span.left, span.right, ColourOf(bar));
}

void DrawFileBar(Display& display, ClusterBar bar, uint64_t volume_cluster_count) {
  std::size_t rows = display.FragmentRowCount();
  std::size_t step = std::max<std::size_t>(rows / 50, 1);
  for (std::size_t i = 0; i < rows; i += step) {
    FragmentRow row = display.GetFragmentRow(i);
    DrawClusterBar(display, bar, row.lcn, row.clusters, volume_cluster_count);
  }
}

void ShowMaxFragments(Display& display, uint64_t fragment_count, uint64_t cluster_count) {
  display.SetText(TextField::kMaxValue, Format("%" PRIu64, cluster_count));
  display.SetFragmentCountRange(1, static_cast<int32_t>(static_cast<uint32_t>(cluster_count)),
                                static_cast<int32_t>(static_cast<uint32_t>(fragment_count)));
}

}  // namespace shardix
