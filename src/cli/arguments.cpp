#include "cli/arguments.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace shardix::cli {

namespace {

// The long option a short one stands for, where the command has it.
std::string LongForm(const std::string& word, const std::set<std::string>& flags,
                     const std::set<std::string>& options) {
  if (word == "-q" && flags.count("--quiet")) return "--quiet";
  if (word == "-c" && options.count("--count")) return "--count";
  return word;
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates) {
  std::string nearest;
  std::size_t best = std::min<std::size_t>(3, (word.size() + 1) / 2);
  for (const std::string& candidate : candidates) {
    std::size_t distance = EditDistance(word, candidate);
    if (distance < best) {
      best = distance;
      nearest = candidate;
    }
  }
  return nearest;
}

Arguments ParseArguments(const std::vector<std::string>& words, const std::set<std::string>& flags,
                         const std::set<std::string>& options) {
  Arguments parsed;
  bool only_paths = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string word = only_paths ? words[i] : LongForm(words[i], flags, options);
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
      std::vector<std::string> known(flags.begin(), flags.end());
      known.insert(known.end(), options.begin(), options.end());
      std::string nearest = NearestWord(name, known);
      if (!nearest.empty()) parsed.error += "; did you mean " + nearest + "?";
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
