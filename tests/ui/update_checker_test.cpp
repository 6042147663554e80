#include <gtest/gtest.h>

#include <QCoreApplication>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "net/qt/qt_http_client.h"
#include "support/loopback_http_server.h"
#include "support/qt/main_loop_wait.h"
#include "support/test_support.h"
#include "ui/mirla_update_checker.h"

namespace sorvane {
namespace {

using testing::LoopbackHttpServer;
using testing::LoopbackRequest;
using testing::LoopbackResponse;
using testing::waitUntil;

TEST(VersionCompare, NumericComponentsMissingOnesAreZero) {
  struct Row {
    const char* a;
    const char* b;
    int order;
  };
  const std::string huge(25, '9');
  const Row rows[] = {
      {"1.2", "1.2.0", 0},
      {"1.10.0", "1.9.9", 1},
      {"2.0-beta", "2.0", 0},
      {"2.1-beta", "2.0", 0},  // "1-beta" is not a number: 2.0
      {"2.1-beta", "2.0.1", -1},
      {"1.0.1", "1.0", 1},
      {"", "0.0.0", 0},
      {"01.2", "1.2", 0},
      {"+1", "0", 0},
      {"-1", "0", 0},
      {"1..2", "1.0.2", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.a) + " vs " + row.b);
    const int order = compareVersions(row.a, row.b);
    EXPECT_EQ(order < 0 ? -1 : (order > 0 ? 1 : 0), row.order);
    const int reverse = compareVersions(row.b, row.a);
    EXPECT_EQ(reverse < 0 ? -1 : (reverse > 0 ? 1 : 0), -row.order);
  }
  // A 25-digit component is a number too large for any integer type: still compared.
  EXPECT_GT(compareVersions("1." + huge, "1." + std::string(24, '9')), 0);
  EXPECT_LT(compareVersions("1." + huge, "2"), 0);
  EXPECT_EQ(compareVersions(huge, "000" + huge), 0);
}

TEST(VersionManifest, DecodesRequiredAndOptionalKeys) {
  auto full = decodeVersionManifest(
      R"({"latestVersion":"1.3.0","downloadUrl":"https://example.test/d","title":"新版","notes":["快","稳"]})");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->latestVersion, "1.3.0");
  EXPECT_EQ(full->notes, (std::vector<std::string>{"快", "稳"}));
  EXPECT_TRUE(decodeVersionManifest(R"({"latestVersion":"1","downloadUrl":"u","title":null})"));
  for (const char* bad : {"", "not json", "[]", R"({"latestVersion":"1"})", R"({"downloadUrl":"u"})",
                          R"({"latestVersion":1,"downloadUrl":"u"})", R"({"latestVersion":"1","downloadUrl":"u","notes":"x"})",
                          R"({"latestVersion":"1","downloadUrl":"u","notes":[1]})"}) {
    EXPECT_FALSE(decodeVersionManifest(bad)) << bad;
  }
}

TEST(VersionManifest, AlertTextsKeysAndOpenableURLs) {
  MirlaVersionManifest manifest{"1.3.0", "https://example.test/d", std::nullopt, std::vector<std::string>{"快", " "}};
  const UpdateAlert alert = buildUpdateAlert(manifest, "1.2.0");
  EXPECT_EQ(alert.messageText, "Mirla 有新版本");
  EXPECT_EQ(alert.informativeText, "当前版本 1.2.0，最新版本 1.3.0。\n\n• 快");
  manifest.notes = std::vector<std::string>{};
  manifest.title = "<b>Big</b>";
  EXPECT_EQ(buildUpdateAlert(manifest, "").informativeText, "当前版本 -，最新版本 1.3.0。");
  EXPECT_EQ(buildUpdateAlert(manifest, "").messageText, "<b>Big</b>");

  EXPECT_EQ(updatePromptedKey("1.3.0"), "mirla.update.prompted.1.3.0");
  EXPECT_EQ(updatePromptedKey("1/2\\3 x"), "mirla.update.prompted.1_2_3_x");
  EXPECT_EQ(updatePromptedKey(std::string(10000, '9')).size(), kUpdatePromptedPrefix.size() + kMaxVersionKeyChars);

  for (const char* good : {"https://example.test/d", "HTTP://127.0.0.1:8/x"}) EXPECT_TRUE(isOpenableDownloadURL(good)) << good;
  for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "https://", "https://a.test/x y",
                          "https://a.test/\nx", "ftp://a.test", "/relative"}) {
    EXPECT_FALSE(isOpenableDownloadURL(bad)) << bad;
  }
}

class MemoryPreferences final : public PreferenceStore {
 public:
  bool boolValue(const std::string& key) const override {
    auto it = values.find(key);
    return it != values.end() && it->second;
  }
  void setBool(const std::string& key, bool value) override { values[key] = value; }
  std::map<std::string, bool> values;
};

class RecordingPresenter final : public UpdateAlertPresenter {
 public:
  void present(const UpdateAlert& alert, std::function<void(bool)> done) override {
    alerts.push_back(alert);
    done(answer);
  }
  std::vector<UpdateAlert> alerts;
  bool answer = true;
};

// The checker against a loopback website, with the real HTTP client.
class UpdateCheckerTest : public ::testing::Test {
 protected:
  UpdateCheckerTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        http_(std::make_unique<QtHttpClient>(dispatcher_->queue("app.sorvane.http"))) {}

  std::unique_ptr<MirlaUpdateChecker> checker(const std::string& url, std::string version = "1.2.0") {
    return std::make_unique<MirlaUpdateChecker>(*dispatcher_, *http_, preferences_, presenter_, url,
                                                std::move(version),
                                                [this](const std::string& opened) { opened_.push_back(opened); });
  }
  // Runs one check to its end.
  void runCheck(MirlaUpdateChecker& checker) {
    checker.checkAndNotifyIfNeeded();
    ASSERT_TRUE(waitUntil([&] { return !checker.isInFlight(); }));
  }

  std::unique_ptr<Dispatcher> dispatcher_;
  std::unique_ptr<QtHttpClient> http_;
  MemoryPreferences preferences_;
  RecordingPresenter presenter_;
  std::vector<std::string> opened_;
};

TEST_F(UpdateCheckerTest, NewerVersionAlertsOnceAndOpensTheDownload) {
  LoopbackHttpServer server([](const LoopbackRequest& request) {
    if (request.path != "/version.json") return LoopbackResponse::make(404, "");
    return LoopbackResponse::make(
        200, R"({"latestVersion":"1.3.0","downloadUrl":"https://example.test/sorvane.deb","notes":["更快"]})");
  });
  auto check = checker(server.url("/version.json"));
  runCheck(*check);
  ASSERT_EQ(presenter_.alerts.size(), 1u);
  EXPECT_EQ(presenter_.alerts[0].informativeText, "当前版本 1.2.0，最新版本 1.3.0。\n\n• 更快");
  EXPECT_TRUE(preferences_.boolValue("mirla.update.prompted.1.3.0"));
  EXPECT_EQ(opened_, (std::vector<std::string>{"https://example.test/sorvane.deb"}));
  ASSERT_EQ(server.requestCount(), 1u);
  EXPECT_EQ(server.requests()[0].method, "GET");

  // The same version again: fetched, not announced.
  runCheck(*check);
  EXPECT_EQ(server.requestCount(), 2u);
  EXPECT_EQ(presenter_.alerts.size(), 1u);
}

TEST_F(UpdateCheckerTest, NothingForOldBrokenOrFailingManifests) {
  struct Row {
    int status;
    const char* body;
  };
  const Row rows[] = {
      {200, R"({"latestVersion":"1.2","downloadUrl":"https://e.test"})"},     // equal
      {200, R"({"latestVersion":"1.1.9","downloadUrl":"https://e.test"})"},   // older
      {200, R"({"downloadUrl":"https://e.test"})"},                           // missing key
      {200, "<html>oops</html>"},                                             // not JSON
      {503, R"({"latestVersion":"9.0","downloadUrl":"https://e.test"})"},     // not 2xx
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.body);
    LoopbackHttpServer server([&](const LoopbackRequest&) { return LoopbackResponse::make(row.status, row.body); });
    auto check = checker(server.url("/version.json"));
    testing::LogCapture log;
    runCheck(*check);
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_TRUE(presenter_.alerts.empty());
    EXPECT_TRUE(preferences_.values.empty());
    EXPECT_EQ(log.count("update check failed"), row.status == 503 ? 1u : 0u);
  }
}

TEST_F(UpdateCheckerTest, DownServerLogsOnceAndUnsafeDownloadIsNotOpened) {
  testing::RefusingLoopbackPort refusing;
  {
    testing::LogCapture log;
    auto check = checker(refusing.url("/version.json"));
    runCheck(*check);
    EXPECT_TRUE(presenter_.alerts.empty());
    EXPECT_EQ(log.count("update check failed error="), 1u);
  }
  LoopbackHttpServer server([](const LoopbackRequest&) {
    return LoopbackResponse::make(200, R"({"latestVersion":"2.0","downloadUrl":"file:///etc/passwd"})");
  });
  auto check = checker(server.url("/version.json"));
  runCheck(*check);
  EXPECT_EQ(presenter_.alerts.size(), 1u);
  EXPECT_TRUE(opened_.empty());
}

TEST_F(UpdateCheckerTest, OneRequestInFlightAndNoneWithoutAWebsite) {
  LoopbackHttpServer server([](const LoopbackRequest&) { return LoopbackResponse::held(); });
  auto check = checker(server.url("/version.json"));
  check->checkAndNotifyIfNeeded();
  ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 1; }));
  check->checkAndNotifyIfNeeded();
  EXPECT_TRUE(check->isInFlight());
  QCoreApplication::processEvents();
  EXPECT_EQ(server.requestCount(), 1u);

  auto unconfigured = checker("");
  unconfigured->checkAndNotifyIfNeeded();
  EXPECT_FALSE(unconfigured->isInFlight());
  // The held request is cancelled when the client goes; the checker goes first.
  check.reset();
  http_.reset();
}

}  // namespace
}  // namespace sorvane
