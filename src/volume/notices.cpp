#include "volume/notices.h"

#include <atomic>

namespace shardix {

namespace {

std::atomic<NoticeSink> g_sink{nullptr};

}  // namespace

void SetNoticeSink(NoticeSink sink) { g_sink.store(sink); }

void Notice(const std::string& text) {
  if (NoticeSink sink = g_sink.load()) sink(text);
}

}  // namespace shardix
