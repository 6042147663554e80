#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "core/dispatch.h"
#include "core/json.h"
#include "support/fake_http_client.h"
#include "support/virtual_time.h"
#include "ui/mirla_account_client.h"

namespace sorvane {
namespace {

using testing::FakeHttpClient;
using testing::FakeHttpReply;

TEST(AccountForm, LocalRefusals) {
  struct Row {
    const char* email;
    const char* password;
    bool refused;
  };
  const Row rows[] = {
      {"user@example.test", "12345678", false},
      {"  user@example.test \n", "12345678", false},
      {"user@example.test", "1234567", true},   // 7 characters
      {"user.example.test", "12345678", true},  // no "@"
      {"   ", "12345678", true},
      {"user@example.test", "密码密码密码密码", false},  // 8 characters, 24 bytes
      {"user@example.test", "密码密码密码密", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.email) + " / " + row.password);
    auto refusal = accountFormRefusal(row.email, row.password);
    EXPECT_EQ(refusal.has_value(), row.refused);
    if (refusal) {
      EXPECT_EQ(*refusal, "请填写有效邮箱和至少 8 位密码。");
    }
  }
}

TEST(AccountForm, StatusForRepliesAndErrors) {
  auto reply = [](int status, std::string body) { return HttpOutcome(HttpResponse{status, {}, std::move(body)}); };
  EXPECT_EQ(accountStatusFor(reply(200, "{}")), kAccountConnectedStatus);
  EXPECT_EQ(accountStatusFor(reply(204, "")), kAccountConnectedStatus);
  EXPECT_EQ(accountStatusFor(reply(401, R"({"error":"密码不对"})")), "密码不对");
  // Markup in a server's text stays text; the page shows it as plain text.
  EXPECT_EQ(accountStatusFor(reply(401, R"({"error":"<a href='x'>x</a>"})")), "<a href='x'>x</a>");
  EXPECT_EQ(accountStatusFor(reply(401, R"({"error":""})")), "账号服务返回异常：HTTP 401。");
  EXPECT_EQ(accountStatusFor(reply(500, "<html>")), "账号服务返回异常：HTTP 500。");
  EXPECT_EQ(accountStatusFor(reply(403, R"({"error":42})")), "账号服务返回异常：HTTP 403。");
  const std::string longError(1000, 'e');
  EXPECT_EQ(accountStatusFor(reply(400, R"({"error":")" + longError + "\"}")),
            std::string(kMaxServerErrorChars, 'e') + "...");
  EXPECT_EQ(accountStatusFor(HttpOutcome(HttpError{HttpError::Kind::connection, "connection refused"})),
            "账号服务暂时不可用：connection refused");
}

TEST(AccountForm, CredentialsOnlyOverHttpsOrLoopback) {
  for (const char* safe : {"https://site.test/api", "HTTPS://site.test", "http://127.0.0.1:8080/x",
                           "http://localhost/x", "http://[::1]:9/x"}) {
    EXPECT_TRUE(isCredentialSafeURL(safe)) << safe;
  }
  for (const char* unsafe : {"http://site.test/api", "http://127.0.0.1.evil.test/", "ftp://site.test",
                             "http://localhost.evil.test/", "https://", "site.test"}) {
    EXPECT_FALSE(isCredentialSafeURL(unsafe)) << unsafe;
  }
  EXPECT_EQ(websiteURLFor("https://site.test/", "/version.json"), "https://site.test/version.json");
  EXPECT_EQ(websiteURLFor("https://site.test", "api"), "https://site.test/api");
}

class AccountClientTest : public ::testing::Test {
 protected:
  std::optional<std::string> submit(const std::string& website, AccountAction action, const char* email,
                                    const char* password) {
    MirlaAccountClient client(dispatcher_, http_, website);
    std::optional<std::string> status;
    client.submit(action, email, password, [&](std::string s) { status = std::move(s); });
    dispatcher_.runUntilIdle();
    return status;
  }
  testing::VirtualDispatcher dispatcher_;
  FakeHttpClient http_;
};

TEST_F(AccountClientTest, PostsTheFormToTheWebsite) {
  http_.script("/api/auth/email/login", {FakeHttpReply::response(401, R"({"error":"账号不存在"})")});
  http_.script("/api/auth/email/register", {FakeHttpReply::response(201, "{}")});
  EXPECT_EQ(submit("https://site.test/", AccountAction::signIn, " a@b.test ", "password1"), "账号不存在");
  EXPECT_EQ(submit("https://site.test", AccountAction::signUp, "a@b.test", "password1"), kAccountConnectedStatus);
  ASSERT_EQ(http_.requests().size(), 2u);
  const HttpRequest& login = http_.requests()[0];
  EXPECT_EQ(login.method, "POST");
  EXPECT_EQ(login.url, "https://site.test/api/auth/email/login");
  EXPECT_EQ(parseJson(login.body), parseJson(R"({"email":"a@b.test","password":"password1"})"));
  EXPECT_EQ(login.headers, (HttpHeaders{{"Content-Type", "application/json"}}));
  EXPECT_EQ(http_.requests()[1].url, "https://site.test/api/auth/email/register");
}

TEST_F(AccountClientTest, RefusesWithoutSendingWhenUnconfiguredInvalidOrInsecure) {
  EXPECT_EQ(submit("", AccountAction::signIn, "a@b.test", "password1"), kAccountNotConfiguredStatus);
  EXPECT_EQ(submit("https://site.test", AccountAction::signIn, "a@b.test", "short"), kAccountFormRefusal);
  EXPECT_EQ(submit("http://site.test", AccountAction::signIn, "a@b.test", "password1"), kAccountInsecureStatus);
  EXPECT_TRUE(http_.requests().empty());
  MirlaAccountClient client(dispatcher_, http_, "https://site.test/");
  EXPECT_EQ(client.googleSignInURL(), "https://site.test/api/auth/google/start");
  EXPECT_EQ(MirlaAccountClient(dispatcher_, http_, "").googleSignInURL(), "");
}

}  // namespace
}  // namespace sorvane
