#include "ui/mirla_update_checker.h"

#include <algorithm>
#include <chrono>
#include <variant>

#include "core/json.h"
#include "core/log.h"
#include "core/unicode_text.h"
#include "net/http_client.h"

namespace sorvane {
namespace {

constexpr std::chrono::milliseconds kManifestTimeout{15000};

std::vector<std::string_view> splitOnDots(std::string_view version) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t dot = version.find('.', start);
    parts.push_back(version.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return parts;
}

// The component's number as digits without leading zeros ("" for 0); non-numbers are 0.
std::string_view numericDigits(std::string_view component) {
  if (component.empty() || !std::all_of(component.begin(), component.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return {};
  }
  const std::size_t first = component.find_first_not_of('0');
  return first == std::string_view::npos ? std::string_view() : component.substr(first);
}

int compareComponents(std::string_view a, std::string_view b) {
  const std::string_view x = numericDigits(a);
  const std::string_view y = numericDigits(b);
  if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
  const int order = x.compare(y);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

bool isVersionKeyChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' ||
         c == '-' || c == '+';
}

}  // namespace

std::optional<MirlaVersionManifest> decodeVersionManifest(std::string_view body) {
  auto object = parseJsonObject(body);
  if (!object) return std::nullopt;
  auto stringField = [&](const char* key) -> std::optional<std::string> {
    auto it = object->find(key);
    if (it == object->end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
  };
  auto present = [&](const char* key) {
    auto it = object->find(key);
    return it != object->end() && !it->is_null();
  };
  MirlaVersionManifest manifest;
  auto latest = stringField("latestVersion");
  auto download = stringField("downloadUrl");
  if (!latest || !download) return std::nullopt;
  manifest.latestVersion = *latest;
  manifest.downloadUrl = *download;
  if (present("title")) {
    manifest.title = stringField("title");
    if (!manifest.title) return std::nullopt;
  }
  if (present("notes")) {
    const Json& notes = (*object)["notes"];
    if (!notes.is_array()) return std::nullopt;
    std::vector<std::string> lines;
    for (const Json& note : notes) {
      if (!note.is_string()) return std::nullopt;
      lines.push_back(note.get<std::string>());
    }
    manifest.notes = std::move(lines);
  }
  return manifest;
}

int compareVersions(std::string_view a, std::string_view b) {
  const auto left = splitOnDots(a);
  const auto right = splitOnDots(b);
  const std::size_t count = std::max(left.size(), right.size());
  for (std::size_t i = 0; i < count; ++i) {
    const int order = compareComponents(i < left.size() ? left[i] : std::string_view(),
                                        i < right.size() ? right[i] : std::string_view());
    if (order != 0) return order;
  }
  return 0;
}

std::string updatePromptedKey(std::string_view latestVersion) {
  std::string version(latestVersion.substr(0, kMaxVersionKeyChars));
  for (char& c : version) {
    if (!isVersionKeyChar(c)) c = '_';
  }
  return std::string(kUpdatePromptedPrefix) + version;
}

bool isOpenableDownloadURL(std::string_view url) {
  const std::string lower = text::toLower(url.substr(0, 8));
  const bool schemeOK = text::startsWith(lower, "https://") || text::startsWith(lower, "http://");
  // A URL with line breaks, spaces or control characters is not one a site would publish.
  const bool clean = std::none_of(url.begin(), url.end(), [](char c) {
    return static_cast<unsigned char>(c) <= 0x20 || c == 0x7f;
  });
  return schemeOK && clean && url.size() > lower.find("//") + 2;
}

UpdateAlert buildUpdateAlert(const MirlaVersionManifest& manifest, std::string_view currentVersion) {
  UpdateAlert alert;
  alert.messageText = manifest.title && !text::isBlank(*manifest.title) ? *manifest.title : "Mirla 有新版本";
  std::vector<std::string> parts;
  parts.push_back("当前版本 " + std::string(currentVersion.empty() ? "-" : currentVersion) + "，最新版本 " +
                  manifest.latestVersion + "。");
  if (manifest.notes && !manifest.notes->empty()) {
    std::vector<std::string> bullets;
    for (const std::string& note : *manifest.notes) {
      if (!text::isBlank(note)) bullets.push_back("• " + note);
    }
    if (!bullets.empty()) parts.push_back(text::join(bullets, "\n"));
  }
  alert.informativeText = text::join(parts, "\n\n");
  alert.downloadUrl = manifest.downloadUrl;
  return alert;
}

MirlaUpdateChecker::MirlaUpdateChecker(Dispatcher& dispatcher, HttpClient& http, PreferenceStore& preferences,
                                       UpdateAlertPresenter& presenter, std::string manifestURL,
                                       std::string currentVersion, std::function<void(const std::string&)> openURL)
    : dispatcher_(dispatcher),
      http_(http),
      preferences_(preferences),
      presenter_(presenter),
      manifestURL_(std::move(manifestURL)),
      currentVersion_(currentVersion.empty() ? "0.0.0" : std::move(currentVersion)),
      openURL_(std::move(openURL)) {}

void MirlaUpdateChecker::checkAndNotifyIfNeeded() {
  if (inFlight_ || manifestURL_.empty()) return;
  inFlight_ = true;
  HttpRequest request;
  request.url = manifestURL_;
  request.timeout = kManifestTimeout;
  http_.send(std::move(request), dispatcher_.mainQueue(), [this, weak = alive_.weak()](HttpOutcome outcome) {
    if (!weak.lock()) return;
    inFlight_ = false;
    if (const auto* error = std::get_if<HttpError>(&outcome)) {
      appLog("update check failed error=" + error->description);
      return;
    }
    const auto& response = std::get<HttpResponse>(outcome);
    if (!response.isSuccess()) {
      appLog("update check failed status=" + std::to_string(response.status));
      return;
    }
    handle(response.body);
  });
}

void MirlaUpdateChecker::handle(const std::string& body) {
  auto manifest = decodeVersionManifest(body);
  if (!manifest) return;
  if (compareVersions(manifest->latestVersion, currentVersion_) <= 0) return;
  const std::string key = updatePromptedKey(manifest->latestVersion);
  if (preferences_.boolValue(key)) return;
  // Written before the alert appears: a dismissed alert never comes back for this version.
  preferences_.setBool(key, true);
  UpdateAlert alert = buildUpdateAlert(*manifest, currentVersion_);
  presenter_.present(alert, [open = openURL_, url = alert.downloadUrl](bool download) {
    if (download && isOpenableDownloadURL(url) && open) open(url);
  });
}

}  // namespace sorvane
