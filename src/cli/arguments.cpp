#include "cli/arguments.h"

#include <cerrno>
#include <cstdlib>

namespace shardix::cli {

Arguments ParseArguments(const std::vector<std::string>& words, const std::set<std::string>& flags,
                         const std::set<std::string>& options) {
  Arguments parsed;
  bool only_paths = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (only_paths || word.size() < 2 || word.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(word);
      continue;
    }
    if (word == "--") {
      only_paths = true;
      continue;
    }
    std::string name = word, value;
    bool inline_value = false;
    if (std::size_t equals = word.find('='); equals != std::string::npos) {
      name = word.substr(0, equals);
      value = word.substr(equals + 1);
      inline_value = true;
    }
    if (flags.count(name) && !inline_value) {
      parsed.flags.insert(name);
    } else if (options.count(name)) {
      if (!inline_value) {
        if (i + 1 >= words.size()) {
          parsed.error = name + " needs a value";
          return parsed;
        }
        value = words[++i];
      }
      parsed.values[name].push_back(value);
    } else {
      parsed.error = "unknown option " + name;
      return parsed;
    }
  }
  return parsed;
}

bool IsDecimal(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

bool ParseUnsigned(const std::string& text, unsigned long long* value) {
  if (!IsDecimal(text) || text.size() > 20) return false;
  errno = 0;
  unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return false;
  *value = parsed;
  return true;
}

}  // namespace shardix::cli
