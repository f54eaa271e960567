#include "scenario/strict_json.h"

#include <set>
#include <stdexcept>
#include <vector>

namespace shardix::scenario {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::size_t kDeepest = 64;

struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace

bool ParseStrictJson(const std::string& text, Json* out, std::string* error) {
  struct Frame {
    bool array = false;
    std::size_t index = 0;
    std::string key;
    std::set<std::string> keys;
  };
  std::vector<Frame> frames;
  auto place = [&] {
    std::string where;
    for (const Frame& frame : frames) {
      if (frame.array) where += "[" + std::to_string(frame.index) + "]";
      else where += (where.empty() ? "" : ".") + frame.key;
    }
    return where.empty() ? std::string("the top") : where;
  };
  using Event = Json::parse_event_t;
  const Json::parser_callback_t callback = [&](int, Event event, Json& parsed) {
    switch (event) {
      case Event::object_start:
      case Event::array_start:
        if (frames.size() >= kDeepest) throw Refusal(place() + ": nested too deep");
        frames.emplace_back();
        frames.back().array = event == Event::array_start;
        break;
      case Event::key:
        frames.back().key = parsed.get<std::string>();
        if (!frames.back().keys.insert(frames.back().key).second)
          throw Refusal(place() + ": the key appears twice in one object");
        break;
      case Event::object_end:
      case Event::array_end:
        frames.pop_back();
        [[fallthrough]];
      case Event::value:
        // The next value of an array is its next item.
        if (!frames.empty() && frames.back().array) ++frames.back().index;
        break;
    }
    return true;
  };
  try {
    *out = Json::parse(text, callback);
  } catch (const Refusal& refusal) {
    *error = refusal.what();
    return false;
  } catch (const Json::exception& failure) {
    // "[json.exception.parse_error.101] parse error at line 1, column 3: ...;
    // last read: '...'": the bytes last read may not be text, so they stay out.
    std::string what = failure.what();
    if (const std::size_t tag = what.find("] "); tag != std::string::npos) what.erase(0, tag + 2);
    if (const std::size_t read = what.find("; last read:"); read != std::string::npos) what.erase(read);
    *error = "not JSON: " + what;
    return false;
  }
  return true;
}

}  // namespace shardix::scenario
