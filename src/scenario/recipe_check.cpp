// The steps of a recipe against each other, before anything is made: every
// path, piece and deleted file a step names must be made by an earlier step,
// and what is asked must fit the volume. Whatever depends on where the
// volume puts things (runs of a deleted file, files held in their record,
// the names ageing draws) is left to the build.
#include <map>
#include <set>

#include "scenario/recipe.h"

namespace shardix::scenario {

namespace {

std::string Member(const std::string& place, const std::string& key) { return place + "." + key; }
std::string Item(const std::string& place, std::size_t index) {
  return place + "[" + std::to_string(index) + "]";
}
std::string Quoted(const std::string& text) { return nlohmann::ordered_json(text).dump(); }

// Below this a file may stay in its MFT record; it is not counted.
constexpr uint64_t kMaybeResident = 1024;

struct FileFacts {
  std::set<std::string> streams;
  uint64_t size = 0;          // of the unnamed stream
  bool size_known = true;     // false for an overwrite's file that takes its runs' size
  bool sparse = false;
  uint64_t clusters = 0;      // of every stream, as counted in `used_`
};

class StepChecker {
 public:
  StepChecker(const Recipe& recipe, std::string* error)
      : recipe_(recipe), error_(*error), total_(recipe.volume_bytes / recipe.cluster_size) {}

  bool Check() {
    for (std::size_t i = 0; i < recipe_.steps.size(); ++i) {
      const Step& step = recipe_.steps[i];
      const std::string place = Item("steps", i);
      bool ok = true;
      switch (step.kind) {
        case Step::Kind::kFolder: ok = Folder(step.path, Member(place, "path")); break;
        case Step::Kind::kCreate: ok = Create(step.file, place); break;
        case Step::Kind::kFragment: ok = Fragment(step, place); break;
        case Step::Kind::kLayout: ok = Layout(step, place); break;
        case Step::Kind::kDelete: ok = Delete(step, place); break;
        case Step::Kind::kOverwrite: ok = Overwrite(step, place); break;
        case Step::Kind::kAge:
          ok = Folder(step.path, Member(place, "folder"));
          aged_.insert(step.path);
          break;
      }
      if (!ok) return false;
    }
    return true;
  }

 private:
  bool Fail(const std::string& place, const std::string& what) {
    error_ = place + ": " + what;
    return false;
  }
  // Under a folder that ageing fills: its names are drawn during the build.
  bool Aged(const std::string& path) const {
    for (const std::string& folder : aged_)
      if (path.compare(0, folder.size() + 1, folder + "/") == 0) return true;
    return false;
  }
  uint64_t Clusters(uint64_t bytes) const {
    return bytes < kMaybeResident ? 0 : bytes / recipe_.cluster_size + (bytes % recipe_.cluster_size != 0);
  }
  bool Use(uint64_t clusters, const std::string& place) {
    used_ += clusters;
    if (used_ <= total_) return true;
    return Fail(place, "the files made so far need " + std::to_string(used_) + " clusters; the volume has " +
                           std::to_string(total_));
  }
  const FileFacts* Live(const std::string& path, const std::string& place) {
    const auto found = files_.find(path);
    if (found != files_.end()) return &found->second;
    if (folders_.count(path)) Fail(place, path + " is a folder, not a file");
    else if (deleted_.count(path)) Fail(place, path + " was deleted by an earlier step");
    else Fail(place, path + " is not a file that an earlier step makes");
    return nullptr;
  }

  bool Folder(const std::string& path, const std::string& place) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
      const std::string folder = slash == std::string::npos ? path : path.substr(0, slash);
      if (files_.count(folder))
        return Fail(place, folder + " is a file made by an earlier step; it cannot hold others");
      folders_.insert(folder);
      if (slash == std::string::npos) return true;
    }
  }

  bool Create(const FileRecipe& file, const std::string& place) {
    const std::string where = Member(place, "path");
    const std::size_t slash = file.path.rfind('/');
    if (slash > 0 && !Folder(file.path.substr(0, slash), where)) return false;
    if (folders_.count(file.path)) return Fail(where, file.path + " is a folder made by an earlier step");
    if (!file.reuse_record_of.empty() && !deleted_.count(file.reuse_record_of) && !Aged(file.reuse_record_of))
      return Fail(Member(place, "reuse_record_of"), file.reuse_record_of + " is not a file an earlier step deletes");
    FileFacts& facts = files_[file.path];
    if (!facts.streams.insert(file.stream).second)
      return Fail(where, file.path + (file.stream.empty() ? "" : ":" + file.stream) +
                             " is made by an earlier step already");
    facts.streams.insert("");  // a named stream makes the file too
    uint64_t clusters = 0;
    if (file.data.empty()) {
      clusters = Clusters(file.size);
    } else {
      for (const DataRange& range : file.data) clusters += Clusters(range.length);
    }
    if (file.stream.empty()) {
      facts.size = file.size;
      facts.size_known = file.size_given;
      facts.sparse = !file.data.empty();
    }
    facts.clusters += clusters;
    return Use(clusters, Member(place, "size"));
  }

  bool Fragment(const Step& step, const std::string& place) {
    const std::string where = Member(place, "path");
    if (Aged(step.path) && !files_.count(step.path)) return true;
    const FileFacts* file = Live(step.path, where);
    if (!file) return false;
    if (file->size_known && file->size == 0) return Fail(where, step.path + " is empty: it has no clusters");
    const uint64_t clusters = file->sparse || !file->size_known ? 0 : Clusters(file->size);
    if (clusters && step.count > clusters)
      return Fail(Member(place, "count"), step.path + " has " + std::to_string(clusters) +
                                              " clusters: at most that many fragments");
    return true;
  }

  // The clusters of a file a layout moves, or 0 when the build alone knows.
  bool LayoutFile(const std::string& path, const std::string& place, uint64_t* clusters) {
    *clusters = 0;
    if (Aged(path) && !files_.count(path)) return true;
    const FileFacts* file = Live(path, place);
    if (!file) return false;
    if (file->sparse) return Fail(place, path + " has holes; a layout moves files without them");
    if (file->size_known && file->size == 0) return Fail(place, path + " is empty: it has no clusters");
    if (file->size_known) *clusters = Clusters(file->size);
    return true;
  }

  bool Layout(const Step& step, const std::string& place) {
    std::map<std::string, std::vector<uint64_t>> pieces;  // sizes in clusters, 0 when unknown
    for (const LayoutSplit& split : step.split) {
      const std::string where = Member(place, "split") + "[" + Quoted(split.path) + "]";
      uint64_t clusters = 0;
      if (!LayoutFile(split.path, where, &clusters)) return false;
      std::vector<uint64_t>& sizes = pieces[split.path];
      if (!split.piece_clusters.empty()) {
        uint64_t sum = 0;
        for (uint64_t size : split.piece_clusters) sum += size;  // each below 2^32, at most 100000
        if (clusters && sum != clusters)
          return Fail(where, "the pieces come to " + std::to_string(sum) + " clusters; " + split.path + " has " +
                                 std::to_string(clusters));
        sizes = split.piece_clusters;
      } else {
        if (clusters && split.pieces > clusters)
          return Fail(where, split.path + " has only " + std::to_string(clusters) + " clusters");
        for (uint32_t i = 0; i < split.pieces; ++i)
          sizes.push_back(clusters / split.pieces + (i < clusters % split.pieces ? 1 : 0));
      }
    }
    const std::string arrange = Member(place, "arrange");
    std::set<std::pair<std::string, uint32_t>> placed;
    uint64_t length = 0;
    for (std::size_t i = 0; i < step.arrange.size(); ++i) {
      const LayoutItem& item = step.arrange[i];
      const std::string where = Item(arrange, i);
      uint64_t clusters = item.gap;
      if (!item.path.empty()) {
        auto found = pieces.find(item.path);
        if (found == pieces.end()) {
          if (!LayoutFile(item.path, where, &clusters)) return false;
          found = pieces.emplace(item.path, std::vector<uint64_t>{clusters}).first;
        }
        const std::vector<uint64_t>& sizes = found->second;
        if (item.piece == 0 && sizes.size() > 1)
          return Fail(where, item.path + " is split into " + std::to_string(sizes.size()) + " pieces: name them as " +
                                 item.path + "#1 ...");
        const uint32_t number = item.piece == 0 ? 1 : item.piece;
        if (number > sizes.size())
          return Fail(where, item.path + " has " + std::to_string(sizes.size()) + " piece" +
                                 (sizes.size() == 1 ? "" : "s") + ", not " + std::to_string(number));
        if (!placed.emplace(item.path, number).second)
          return Fail(where, "piece " + std::to_string(number) + " of " + item.path + " is placed twice");
        clusters = sizes[number - 1];
      }
      length += clusters;  // each below 2^32, at most 100000 of them: no wrap
      if (length > total_)
        return Fail(where, "the arrangement needs " + std::to_string(length) + " clusters so far; the volume has " +
                               std::to_string(total_));
    }
    if (placed.empty()) return Fail(arrange, "names no piece, only gaps");
    return true;
  }

  bool Delete(const Step& step, const std::string& place) {
    const std::string where = Member(place, "path");
    const std::string& path = step.path;
    if (folders_.count(path)) {
      const std::string inside = path + "/";
      auto under = [&](const std::string& name) { return name.compare(0, inside.size(), inside) == 0; };
      std::vector<std::string> files;
      for (const auto& [name, facts] : files_)
        if (under(name)) files.push_back(name);
      bool empty = files.empty() && !aged_.count(path);
      for (const std::string& folder : folders_) empty = empty && !under(folder);
      if (!empty && !step.recursive)
        return Fail(where, path + " is not empty: say \"recursive\": true to delete what it holds");
      for (const std::string& name : files) Forget(name);
      std::erase_if(folders_, [&](const std::string& name) { return name == path || under(name); });
      std::erase_if(aged_, [&](const std::string& name) { return name == path || under(name); });
      return true;
    }
    if (files_.count(path)) {
      Forget(path);
      return true;
    }
    if (Aged(path)) return true;
    return Live(path, where) != nullptr;
  }

  void Forget(const std::string& path) {
    used_ -= files_[path].clusters;
    files_.erase(path);
    deleted_.insert(path);
  }

  bool Overwrite(const Step& step, const std::string& place) {
    if (!deleted_.count(step.deleted) && !Aged(step.deleted)) {
      if (files_.count(step.deleted))
        return Fail(Member(place, "deleted"), step.deleted + " is not deleted: a delete step must come first");
      return Fail(Member(place, "deleted"), step.deleted + " is not a file an earlier step deletes");
    }
    return Create(step.file, place);
  }

  const Recipe& recipe_;
  std::string& error_;
  const uint64_t total_;  // the volume's clusters
  uint64_t used_ = 0;     // by the files made so far
  std::map<std::string, FileFacts> files_;
  std::set<std::string> folders_, deleted_, aged_;
};

}  // namespace

bool CheckRecipeSteps(const Recipe& recipe, std::string* error) {
  return StepChecker(recipe, error).Check();
}

}  // namespace shardix::scenario
