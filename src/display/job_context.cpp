#include "display/job_context.h"

#include "volume/volume.h"

namespace shardix {

void NoteJobStart(JobContext& context) {
  context.committed_at_start = context.volume ? context.volume->CommittedMoves() : -1;
}

uint32_t CloseJobWrites(JobContext& context) {
  context.committed = context.moved;
  context.write_error = context.volume ? context.volume->Close() : 0;
  if (context.write_error == 0) return 0;
  // Requests that succeeded but were not committed; each took at most one
  // piece with it (pieces of one request each, as nearly all are).
  const int64_t now = context.volume->CommittedMoves();
  if (now >= 0 && context.committed_at_start >= 0) {
    const uint64_t reached = static_cast<uint64_t>(now - context.committed_at_start);
    const uint64_t lost = context.requests > reached ? context.requests - reached : 0;
    context.committed = context.moved > lost ? context.moved - lost : 0;
  }
  return context.write_error;
}

}  // namespace shardix
