#include "fragment/fragment_job.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "analysis/analyze_file.h"
#include "analysis/extent_scan.h"
#include "analysis/file_display.h"
#include "analysis/job_display.h"
#include "display/display.h"
#include "fragment/fragment_file.h"

namespace shardix {

uint64_t ReadCountText(const std::string& text) {
  // strtoull reads what "%llu" reads, and says when nothing converted.
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(start, &end, 10);
  return end == start ? 0 : value;
}

uint64_t FragmentSizeFor(uint64_t cluster_count, uint64_t fragment_count, int slider) {
  const double size = static_cast<double>(cluster_count) / static_cast<double>(fragment_count) *
                      static_cast<double>(slider) / 10.0;
  const auto truncated = static_cast<int64_t>(size);
  return truncated < 1 ? 1 : static_cast<uint64_t>(truncated);
}

bool PrepareFragmentJob(Display& display, const std::string& count_text,
                        const std::string& max_text, int32_t method, int slider,
                        FragmentJobParams* params) {
  const uint64_t count = ReadCountText(count_text);
  const uint64_t maximum = ReadCountText(max_text);
  if (count < 1 || count > maximum) {
    char text[kTextBufferSize];
    std::snprintf(text, sizeof text, "Number of fragments must be between 1 and %llu",
                  static_cast<unsigned long long>(maximum));
    display.SetStatusError(text);
    return false;
  }
  params->fragment_count = count;
  params->cluster_count = maximum;
  params->method = method;
  params->fragment_size = FragmentSizeFor(maximum, count, slider);
  display.SetProgressRange(static_cast<uint32_t>(count));
  display.SetProgress(0);
  display.SetStatusText("Fragmentation has started...");
  return true;
}

std::string FragmentOutcomeText(int result) {
  switch (result) {
    case kFragmentSucceeded: return "File was successfully fragmented!";
    case kFragmentNoRoom:
      return "File fragmentation was unsuccessful - not enough contiguous clusters";
    default: return "File fragmentation was unsuccessful - unexpected error";
  }
}

int RunFragmentJob(JobContext& context, FileSession& session, const FragmentJobParams& params) {
  Display& display = *context.display;
  BeginJobDisplay(display);

  NoteJobStart(context);
  int result = FragmentFile(context, params.fragment_count, params.fragment_size,
                            params.method, params.cluster_count);
  // The outcome is known only once the moves have reached the disk.
  if (const uint32_t code = CloseJobWrites(context); code != 0 && result != kJobStopped) {
    // A failure the job met already has its box; this is the same one again.
    if (result != kFragmentFailed)
      display.ShowErrorBox("FragmentFile() Error", code, BoxOwner::kMainWindow, BoxIcon::kNone);
    result = kFragmentFailed;
  }
  if (result == kJobStopped) return result;
  if (result == kFragmentSucceeded)
    display.SetStatusText(FragmentOutcomeText(result));
  else if (context.refusal.empty())
    display.SetStatusError(FragmentOutcomeText(result));

  EndJobDisplay(context, session, display);
  return result;
}

}  // namespace shardix
