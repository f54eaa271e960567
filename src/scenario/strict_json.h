// JSON read with nlohmann-json, refusing what it lets through silently: a
// key twice in one object (it keeps the last), and nesting past what any
// recipe or manifest needs. It refuses invalid UTF-8, lone surrogates and
// leading zeros itself.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace shardix::scenario {

// False with a message: the place of the fault as jq writes it
// (`steps[3].size`), or the line and column of a syntax error.
bool ParseStrictJson(const std::string& text, nlohmann::ordered_json* out, std::string* error);

}  // namespace shardix::scenario
