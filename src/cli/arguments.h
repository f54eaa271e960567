// Command words: options may stand before or after the path.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace shardix::cli {

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> values;  // "--count" -> {"10"}
  std::set<std::string> flags;                             // "--json"
  std::string error;                                       // set when the words are off

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  const std::string* Last(const std::string& option) const {
    auto found = values.find(option);
    return found == values.end() || found->second.empty() ? nullptr : &found->second.back();
  }
};

// `flags` take no value; `options` take the next word (or "--opt=value").
// The short forms -q (--quiet) and -c (--count) stand for their long ones
// where the command has them. An unknown option's error suggests the
// nearest known one.
Arguments ParseArguments(const std::vector<std::string>& words, const std::set<std::string>& flags,
                         const std::set<std::string>& options);

// The candidate nearest to a mistyped `word` (at most two edits away, and
// less than half its length), or "".
std::string NearestWord(const std::string& word, const std::vector<std::string>& candidates);

// Exactly a decimal number: digits only, no sign, blank, point or exponent
// (of any length).
bool IsDecimal(const std::string& text);

// A whole unsigned decimal number that fits 64 bits, or false.
bool ParseUnsigned(const std::string& text, unsigned long long* value);

}  // namespace shardix::cli
