// The argument parser and the image-path rule on arbitrary words. Words are
// the input split at zero bytes; the path rule runs inside a scratch folder
// holding one regular file "disk.img", so paths can really split there.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "fuzz/fuzz_input.h"
#include "volume/image_path.h"

namespace {

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/shardix-fuzz-XXXXXX";
    std::string made = mkdtemp(name) ? name : "/tmp";
    if (FILE* image = std::fopen((made + "/disk.img").c_str(), "w")) std::fclose(image);
    return made;
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  shardix::fuzz::FuzzInput input(data, size);
  std::vector<std::string> words;
  while (!input.empty() && words.size() < 16) words.push_back(input.TakeString(64));

  const shardix::cli::Arguments parsed = shardix::cli::ParseArguments(
      words, {"--json", "--quiet"}, {"--count", "--size", "--method", "--seed", "--sort", "--save"});
  for (const auto& [name, values] : parsed.values)
    for (const std::string& value : values) {
      unsigned long long number = 0;
      shardix::cli::ParseUnsigned(value, &number);
    }

  for (const std::string& word : words) {
    shardix::ImagePath split;
    const std::string path = ScratchFolder() + "/disk.img" + word;
    if (shardix::SplitImagePath(path, &split) &&
        (split.inner.empty() || split.inner[0] != '/' ||
         (split.inner.size() > 1 && split.inner.back() == '/')))
      std::abort();  // the rule promises an inner path of '/' and no trailing '/'
    shardix::RefuseSpecialFile(path);
  }
  return 0;
}
