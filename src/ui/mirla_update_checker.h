// The update checker: at most one notice per published version that a newer version of
// the application exists.
//
// The dashboard calls `checkAndNotifyIfNeeded` each time it is shown. The checker GETs
// the version manifest (the website's "/version.json", from providers.json; with no
// website configured no check runs), decodes it, compares its `latestVersion` with the
// running version, and when it is newer and not yet announced, records the announcement
// in the preferences and asks the presenter to show the alert. "下载更新" opens the
// manifest's download URL, but only an http or https one. The manifest is untrusted:
// its texts are handed to the presenter as plain text, only 2xx replies count, and the
// version becomes a preference key only after it is capped and stripped of separators.
//
// Lives on the main queue: the request completes there, and the in-flight flag, the
// preference write and the alert are touched only there. Qt adapters for the ports are
// in qt_update_ports.h.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/dispatch.h"

namespace sorvane {

class HttpClient;

struct MirlaVersionManifest {
  std::string latestVersion;
  std::string downloadUrl;
  std::optional<std::string> title;
  std::optional<std::vector<std::string>> notes;
};

// Nothing when the body is not a JSON object, lacks `latestVersion` or `downloadUrl`, or
// has a field of the wrong type.
std::optional<MirlaVersionManifest> decodeVersionManifest(std::string_view body);

// Negative, zero or positive as `a` is older than, equal to or newer than `b`. Versions
// split on "."; a component made only of digits is its number (of any length), anything
// else ("1-beta", "", "+2") counts as 0; a missing component counts as 0.
int compareVersions(std::string_view a, std::string_view b);

inline constexpr std::string_view kUpdatePromptedPrefix = "mirla.update.prompted.";
inline constexpr std::size_t kMaxVersionKeyChars = 64;
// "mirla.update.prompted." + the version, cut to 64 bytes, with every character outside
// [0-9A-Za-z._+-] replaced by "_" (QSettings reads "/" and "\" as group separators).
std::string updatePromptedKey(std::string_view latestVersion);

// Only http and https URLs may be opened from a manifest.
bool isOpenableDownloadURL(std::string_view url);

inline constexpr std::string_view kUpdateDownloadButton = "下载更新";
inline constexpr std::string_view kUpdateLaterButton = "稍后";

struct UpdateAlert {
  std::string messageText;      // plain text
  std::string informativeText;  // plain text
  std::string downloadUrl;
};
UpdateAlert buildUpdateAlert(const MirlaVersionManifest& manifest, std::string_view currentVersion);

// Per-user preferences (QSettings in the app).
class PreferenceStore {
 public:
  virtual ~PreferenceStore() = default;
  virtual bool boolValue(const std::string& key) const = 0;
  // Written and synced before it returns.
  virtual void setBool(const std::string& key, bool value) = 0;
};

// Shows the alert; `done(true)` when the user chose "下载更新".
class UpdateAlertPresenter {
 public:
  virtual ~UpdateAlertPresenter() = default;
  virtual void present(const UpdateAlert& alert, std::function<void(bool download)> done) = 0;
};

class MirlaUpdateChecker {
 public:
  // Everything handed in outlives the checker. `manifestURL` empty: not configured.
  MirlaUpdateChecker(Dispatcher& dispatcher, HttpClient& http, PreferenceStore& preferences,
                     UpdateAlertPresenter& presenter, std::string manifestURL, std::string currentVersion,
                     std::function<void(const std::string& url)> openURL);

  // Returns at once; a second call while a check is in flight does nothing.
  void checkAndNotifyIfNeeded();
  bool isInFlight() const { return inFlight_; }
  const std::string& currentVersion() const { return currentVersion_; }

 private:
  void handle(const std::string& body);

  Dispatcher& dispatcher_;
  HttpClient& http_;
  PreferenceStore& preferences_;
  UpdateAlertPresenter& presenter_;
  std::string manifestURL_;
  std::string currentVersion_;
  std::function<void(const std::string&)> openURL_;
  bool inFlight_ = false;
  LivenessToken alive_;
};

}  // namespace sorvane
