// The pinned calendar clock behind PinLibraryClock. libntfs-3g reads the
// time through the C library's clock_gettime() and time(); defining them in
// the program puts these in front of the C library's for every caller, the
// shared libntfs-3g included. Unpinned they answer from the kernel as the C
// library would.
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "volume/ntfsimage/image_builder.h"

namespace {

std::atomic<bool> g_pinned{false};
std::atomic<int64_t> g_pinned_seconds{0};

bool IsCalendarClock(clockid_t id) {
  return id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE;
}

}  // namespace

extern "C" int clock_gettime(clockid_t id, struct timespec* now) noexcept {
  if (g_pinned.load() && IsCalendarClock(id)) {
    now->tv_sec = static_cast<time_t>(g_pinned_seconds.load());
    now->tv_nsec = 0;
    return 0;
  }
  return static_cast<int>(syscall(SYS_clock_gettime, id, now));
}

extern "C" time_t time(time_t* out) noexcept {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  if (out) *out = now.tv_sec;
  return now.tv_sec;
}

namespace shardix {

void PinLibraryClock(int64_t unix_seconds) {
  g_pinned_seconds.store(unix_seconds);
  g_pinned.store(true);
}

void UnpinLibraryClock() { g_pinned.store(false); }

}  // namespace shardix
