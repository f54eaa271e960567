// The Fragment job planned whole before its first move. Each piece's target
// is chosen exactly as it would be with the moves before it already made:
// the volume's bitmap is read in windows as the planner looks, and the
// planned moves are laid over it (targets taken, the file's old clusters
// given back), which is what the bitmap shows after those moves. A move
// that the file system refuses when the plan is carried out sends the
// planner back to that piece, with the state it had when it chose it.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "display/job_context.h"
#include "fragment/bitmap_windows.h"
#include "fragment/placement.h"

namespace shardix {

// Clusters whose state the plan has changed, laid over the volume's bitmap.
class ClusterOverlay {
 public:
  void Set(int64_t first, int64_t end, bool used);
  void Clear() { ranges_.clear(); }
  // The first cluster of [from, end) in use, the bitmap answering for the
  // clusters the plan has not changed; `end` when all are free.
  uint32_t FindInUse(BitmapWindows& bitmap, Volume& volume, int64_t from, int64_t end,
                     int64_t* found) const;

 private:
  struct Range {
    int64_t end;
    bool used;
  };
  std::map<int64_t, Range> ranges_;  // by first cluster, never overlapping
};

class FragmentPlanner {
 public:
  FragmentPlanner(JobContext& context, int64_t count, int64_t size, PlacementMethod method,
                  int64_t total);

  // Reads the bitmap's size and the file's runs. 0 or the failing request's
  // code, with its box shown.
  uint32_t Start();
  // Plans every piece. kFragmentSucceeded, kFragmentNoRoom (pieces() holds
  // those that fit), kFragmentFailed (box shown) or kJobStopped.
  int PlanAll();
  // The move of piece `index` was refused: the volume now shows every move
  // before it made and none after. Plans that piece and the rest again from
  // the state the planner had when it chose the refused target.
  int ReplanFrom(uint64_t index);

  const std::vector<PlannedPiece>& pieces() const { return pieces_; }

 private:
  // What the search carries from one attempt and one piece to the next.
  struct State {
    BitPosition resume;     // where the last scan stopped
    int64_t last_byte = 0;  // byte of the previous piece's target
    uint64_t attempt = 1;
    uint32_t random = 0;    // the generator's state
  };

  int PlanPieces(uint64_t first);
  // Lays piece `index` at `lcn` over the bitmap.
  void Take(uint64_t index, int64_t lcn);
  int64_t LengthOf(uint64_t index) const;

  JobContext& context_;
  ShardixRandom& random_;
  int64_t count_, size_, total_;
  PlacementMethod method_;
  BitmapWindows bitmap_;
  ClusterOverlay overlay_;
  std::vector<RetrievalExtent> runs_;  // the file's runs before the job: next VCN and LCN
  std::vector<PlannedPiece> pieces_;
  std::vector<State> chosen_;  // per piece: the state right after its target was chosen
  State state_;
};

// Reads every run of `file` (next VCN, LCN) into *runs. 0 or the code.
uint32_t ReadFileRuns(VolumeFile& file, std::vector<RetrievalExtent>* runs);

}  // namespace shardix
