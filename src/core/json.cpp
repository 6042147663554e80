#include "core/json.h"

namespace sorvane {

std::string toJsonLine(const Json& value) {
  std::string text = value.dump(-1, ' ', false, Json::error_handler_t::replace);
  // A '/' can only occur inside a string in JSON text, so escaping every one is exact.
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '/') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::optional<Json> parseJson(std::string_view text) {
  Json value = Json::parse(text.begin(), text.end(), nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::optional<Json> parseJsonObject(std::string_view text) {
  auto value = parseJson(text);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

std::optional<std::string> jsonString(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(std::string(key));
  if (it == object.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

std::optional<bool> jsonBool(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(std::string(key));
  if (it == object.end() || !it->is_boolean()) return std::nullopt;
  return it->get<bool>();
}

std::optional<int64_t> jsonInteger(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(std::string(key));
  if (it == object.end() || !it->is_number_integer()) return std::nullopt;
  return it->get<int64_t>();
}

std::optional<double> jsonNumber(const Json& object, std::string_view key) {
  if (!object.is_object()) return std::nullopt;
  auto it = object.find(std::string(key));
  if (it == object.end() || !it->is_number()) return std::nullopt;
  return it->get<double>();
}

}  // namespace sorvane
