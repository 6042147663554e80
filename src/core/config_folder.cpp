#include "core/config_folder.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>

#include "core/json.h"
#include "core/log.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

std::optional<std::string> readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return buffer.str();
}

std::string joinURL(std::string base, std::string_view path) {
  while (!base.empty() && base.back() == '/') base.pop_back();
  return base + std::string(path);
}

}  // namespace

std::string ProviderSettings::deepseekChatURL() const { return joinURL(deepseekBaseURL, "/chat/completions"); }
std::string ProviderSettings::qwenChatURL() const {
  return joinURL(dashscopeBaseURL, "/compatible-mode/v1/chat/completions");
}
std::string ProviderSettings::workerInterpretURL() const {
  if (workerBaseURL.empty()) return {};
  return joinURL(workerBaseURL, "/api/interpret");
}

ConfigFolder::ConfigFolder(std::string folder) : folder_(std::move(folder)) {}

std::optional<std::string> ConfigFolder::key(std::string_view fileName) const {
  auto content = readWholeFile(folder_ + "/" + std::string(fileName));
  if (!content) return std::nullopt;
  std::string value = text::trim(*content);
  if (value.empty()) return std::nullopt;
  return value;
}

bool ConfigFolder::isEnabled(std::string_view switchFile) const {
  struct stat info {};
  return ::stat((folder_ + "/" + std::string(switchFile)).c_str(), &info) == 0;
}

ProviderSettings ConfigFolder::providers() const {
  ProviderSettings settings;
  const std::string path = folder_ + "/" + std::string(kProvidersFile);
  auto content = readWholeFile(path);
  if (!content) {
    appLog("providers config missing; using defaults path=" + path);
    return settings;
  }
  auto object = parseJsonObject(*content);
  if (!object) {
    appLog("providers config invalid; using defaults path=" + path);
    return settings;
  }
  auto read = [&](std::string_view service, std::string_view field, std::string& target) {
    auto it = object->find(std::string(service));
    if (it == object->end()) return;
    if (auto value = jsonString(*it, field); value && !text::isBlank(*value)) target = text::trim(*value);
  };
  read("deepseek", "baseURL", settings.deepseekBaseURL);
  read("deepseek", "model", settings.deepseekModel);
  read("dashscope", "baseURL", settings.dashscopeBaseURL);
  read("dashscope", "model", settings.qwenModel);
  read("dashscope", "realtimeURL", settings.dashscopeRealtimeURL);
  read("dashscope", "realtimeModel", settings.qwenRealtimeModel);
  read("deepgram", "listenURL", settings.deepgramListenURL);
  read("deepgram", "model", settings.deepgramModel);
  read("worker", "baseURL", settings.workerBaseURL);
  read("website", "baseURL", settings.websiteURL);
  return settings;
}

}  // namespace sorvane
