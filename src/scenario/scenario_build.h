// The state of one scenario build while its steps run. Private to the
// scenario folder; the steps are split over scenario_build.cpp (files,
// folders, deletions, the Fragment job, ageing) and scenario_layout.cpp
// (explicit layouts and overwrites, which move clusters).
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "scenario/scenario.h"

namespace shardix::scenario {

class ScenarioBuild {
 public:
  ScenarioBuild(const Recipe& recipe, const std::string& image, ScenarioResult* result,
                FILE* progress, const std::atomic<bool>* stop)
      : recipe_(recipe), image_(image), result_(result), progress_(progress), stop_(stop) {}
  bool Run(std::string* error);

 private:
  bool RunStep(const Step& step);
  bool Folder(const std::string& path);
  bool Create(const FileRecipe& file, const std::vector<std::string>& notes, bool listed = true);
  bool Fragment(const Step& step);
  bool Layout(const Step& step);
  bool Delete(const std::string& path, bool recursive);
  bool DeleteFile(const std::string& path, const std::string& why);
  bool Overwrite(const Step& step);
  bool Age(const Step& step);
  bool Finish();

  // Size, record, runs and digests of a stream, read back from the image.
  bool Capture(FileRecord* record);
  // The live record of a stream, or null.
  FileRecord* Live(const std::string& path, const std::string& stream = "");
  // A free run of `clusters` clusters, picked by the recipe's seed and `salt`:
  // from free space that holds only zeros when there is such a run (always
  // when `zeros_only`), else from any free space.
  bool FreeRegion(uint64_t clusters, uint64_t salt, int64_t* lcn, bool zeros_only = false);
  // The image's free runs (first cluster, length) in cluster order, from its bitmap.
  uint32_t FreeRuns(std::vector<std::pair<int64_t, uint64_t>>* runs);
  uint64_t FreePieces();
  // Moves clusters of a file's unnamed stream through the volume layer.
  bool Move(const std::string& path, int64_t vcn, int64_t lcn, uint64_t clusters);
  // Clusters a move took pieces of `record` from, as they were before it:
  // those now free are wiped, or with "freed": "keep" become remnants.
  bool Freed(const FileRecord& record, const std::vector<StreamRun>& before, const std::string& why);
  // Free-space stretches holding bytes no listed file accounts for.
  struct Leftover {
    uint64_t clusters = 0;
    std::string path, stream;
    uint32_t part = 0;
    std::string why;
  };
  // Clusters taken into use: no longer leftovers.
  void Claim(int64_t lcn, uint64_t clusters);
  void Claim(const std::vector<StreamRun>& runs);
  void Leave(int64_t lcn, const Leftover& leftover);
  std::string StepPlace() const;
  bool Fail(const std::string& what);
  bool Failed(uint32_t code, const std::string& message);
  void Warn(const std::string& what);

  const Recipe& recipe_;
  std::string image_;
  ScenarioResult* result_;
  FILE* progress_;
  const std::atomic<bool>* stop_;
  bool Stopped() const { return stop_ && stop_->load(); }
  std::unique_ptr<ImageBuilder> builder_;
  std::string error_;
  std::size_t step_number_ = 0;
  // Live streams by path and stream ("path\n stream"), folders by path.
  std::map<std::string, std::size_t> live_files_;
  std::map<std::string, std::size_t> live_folders_;
  std::vector<std::size_t> deleted_;  // indexes of deleted records, in order
  std::map<int64_t, Leftover> leftovers_;
  std::vector<uint8_t> bitmap_;  // the cluster bitmap as the build left it  // by first cluster, not overlapping
};

std::string StreamKey(const std::string& path, const std::string& stream);

}  // namespace shardix::scenario
