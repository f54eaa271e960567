#include "cli/json_output.h"

#include <cstdio>

#include "volume/error_codes.h"
#include "volume/system_error.h"
#include "volume/unicode_text.h"

namespace shardix::cli {

namespace {

std::function<void(const Json&)>& Sink() {
  static std::function<void(const Json&)> sink;
  return sink;
}

}  // namespace

std::string ErrorCodeName(uint32_t code) { return ErrorName(SystemErrorFor(code)); }

std::string ReadableText(const std::string& text) { return ReadableUtf8(text); }

void PutText(Json& object, const std::string& key, const std::string& text) {
  bool exact = true;
  object[key] = ReadableUtf8(text, &exact);
  if (!exact) object[key + "_hex"] = HexBytes(text);
}

Json ErrorJson(const JsonError& error) {
  Json object;
  object["code"] = error.code;
  object["message"] = ReadableText(error.message);
  if (error.path.empty()) object["path"] = nullptr;
  else PutText(object, "path", error.path);
  return object;
}

Json CommandJson(const std::string& command, const JsonError* error, const Json& fields) {
  Json object;
  object["command"] = command;
  object["ok"] = error == nullptr;
  object["error"] = error ? ErrorJson(*error) : Json(nullptr);
  for (const auto& [key, value] : fields.items()) object[key] = value;
  return object;
}

void PrintErrorLine(const std::string&, const JsonError& error) { ReportError(error); }

void PrintJson(const Json& object) {
  if (Sink()) {
    Sink()(object);
    return;
  }
  // Every text went through PutText; replacing is only the last guard
  // against a throw over a stray byte.
  const std::string text = object.dump(-1, ' ', false, Json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
  std::fflush(stdout);
}

void SetJsonSink(std::function<void(const Json&)> sink) { Sink() = std::move(sink); }

bool AsksForJson(const std::vector<std::string>& words) {
  for (const std::string& word : words) {
    if (word == "--") return false;
    if (word == "--json") return true;
  }
  return false;
}

}  // namespace shardix::cli
