// The JSON layer every record and request of the system goes through.
//
// Records are written as one line with keys sorted at every level (nlohmann::json keeps
// object keys ordered), no insignificant white space, text as raw UTF-8 and forward
// slashes escaped as "\/" (the form our stored files have always had). Invalid UTF-8 in
// a value is replaced by U+FFFD rather than failing the write. Absent optional fields are
// omitted with `setIfPresent`. Parsing never throws: malformed input gives nothing.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace sorvane {

using Json = nlohmann::json;

// One line, sorted keys, "\/" escaping; no trailing line feed.
std::string toJsonLine(const Json& value);

std::optional<Json> parseJson(std::string_view text);
// Only when the text is a JSON object.
std::optional<Json> parseJsonObject(std::string_view text);

// Typed reads that treat a missing key or a value of another type as absent.
std::optional<std::string> jsonString(const Json& object, std::string_view key);
std::optional<bool> jsonBool(const Json& object, std::string_view key);
std::optional<int64_t> jsonInteger(const Json& object, std::string_view key);
std::optional<double> jsonNumber(const Json& object, std::string_view key);

template <typename T>
void setIfPresent(Json& object, std::string_view key, const std::optional<T>& value) {
  if (value) object[std::string(key)] = *value;
}

}  // namespace sorvane
