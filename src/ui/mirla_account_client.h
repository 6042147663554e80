// The dashboard's account page talking to the product website: e-mail sign-in and
// sign-up, and the addresses of the Google sign-in page and the website.
//
// The website's base URL comes from providers.json; with none configured the page's
// buttons are disabled and `submit` refuses at once. Credentials travel only over https,
// or plain http to a loopback address (a local test site); any other address is refused
// before anything is sent. Nothing from a reply is stored: the status text is all the
// page keeps, and a server's `error` string is shown as plain text, capped. Lives on the
// main queue: `done` runs there, exactly once.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/dispatch.h"
#include "net/http_client.h"

namespace sorvane {

inline constexpr std::string_view kAccountInitialStatus = "本机数据已就绪。每个云端账号都有自己的词典，登录后互不混用。";
inline constexpr std::string_view kAccountNotConfiguredStatus =
    "账号服务未配置：在 ~/.sorvane/providers.json 的 website.baseURL 填写网站地址后可用。";
inline constexpr std::string_view kAccountFormRefusal = "请填写有效邮箱和至少 8 位密码。";
inline constexpr std::string_view kAccountInsecureStatus = "账号服务地址不安全：密码只通过 https 发送。";
inline constexpr std::string_view kAccountConnectedStatus =
    "已连接 tevo 账号。当前版本会继续保留本机词典，云端词典同步将在后续设置页开放。";
inline constexpr std::size_t kMaxServerErrorChars = 300;

enum class AccountAction { signIn, signUp };

// The local refusal text, or nothing when the form may be sent. The e-mail is trimmed.
std::optional<std::string> accountFormRefusal(std::string_view email, std::string_view password);
// The status line for a reply or a transport error.
std::string accountStatusFor(const HttpOutcome& outcome);
// True for https, and for http to 127.0.0.0/8, [::1] or localhost.
bool isCredentialSafeURL(std::string_view url);
// `base` + `path` with exactly one "/" between them.
std::string websiteURLFor(std::string_view base, std::string_view path);

class MirlaAccountClient {
 public:
  // `http` and `dispatcher` outlive the client; `websiteURL` empty: not configured.
  MirlaAccountClient(Dispatcher& dispatcher, HttpClient& http, std::string websiteURL);

  bool isConfigured() const { return !websiteURL_.empty(); }
  // Checks the form and the address, then POSTs {"email","password"}; `done` gets the
  // status text (at once for a local refusal).
  void submit(AccountAction action, std::string_view email, std::string_view password,
              std::function<void(std::string status)> done);
  std::string googleSignInURL() const;
  const std::string& websiteURL() const { return websiteURL_; }

 private:
  Dispatcher& dispatcher_;
  HttpClient& http_;
  std::string websiteURL_;
  LivenessToken alive_;
};

}  // namespace sorvane
