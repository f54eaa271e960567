#include "fragment/placement_names.h"

#include <algorithm>
#include <cctype>

#include "fragment/placement.h"

namespace shardix {

namespace {

// The method's name in any case; First Fit also without its hyphen or with
// an underscore. The first name of each is the one shown.
constexpr struct {
  const char* name;
  PlacementMethod method;
} kMethodNames[] = {{"concentrated", PlacementMethod::kConcentrated},
                    {"scattered", PlacementMethod::kScattered},
                    {"random", PlacementMethod::kRandom},
                    {"first-fit", PlacementMethod::kFirstFit},
                    {"firstfit", PlacementMethod::kFirstFit},
                    {"first_fit", PlacementMethod::kFirstFit}};

}  // namespace

bool PlacementMethodByName(std::string name, int32_t* method) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const auto& entry : kMethodNames)
    if (name == entry.name) {
      *method = static_cast<int32_t>(entry.method);
      return true;
    }
  return false;
}

std::string PlacementMethodName(int32_t method) {
  for (const auto& entry : kMethodNames)
    if (static_cast<int32_t>(entry.method) == method) return entry.name;
  return "";
}

}  // namespace shardix
