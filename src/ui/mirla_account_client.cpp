#include "ui/mirla_account_client.h"

#include <chrono>
#include <variant>

#include "context/url_host.h"
#include "core/json.h"
#include "core/unicode_text.h"

namespace sorvane {
namespace {

constexpr std::chrono::milliseconds kAccountTimeout{15000};
constexpr std::size_t kMinPasswordChars = 8;

bool isLoopbackHost(const std::string& host) {
  if (host == "localhost" || host == "[::1]") return true;
  // 127.0.0.0/8 in dotted decimal.
  if (!text::startsWith(host, "127.")) return false;
  int dots = 0;
  for (char c : host) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return false;
    }
  }
  return dots == 3;
}

}  // namespace

std::optional<std::string> accountFormRefusal(std::string_view email, std::string_view password) {
  const std::string trimmed = text::trim(email);
  if (!text::contains(trimmed, "@") || text::graphemeCount(password) < kMinPasswordChars) {
    return std::string(kAccountFormRefusal);
  }
  return std::nullopt;
}

std::string accountStatusFor(const HttpOutcome& outcome) {
  if (const auto* error = std::get_if<HttpError>(&outcome)) return "账号服务暂时不可用：" + error->description;
  const auto& response = std::get<HttpResponse>(outcome);
  if (response.isSuccess()) return std::string(kAccountConnectedStatus);
  if (auto object = parseJsonObject(response.body)) {
    if (auto message = jsonString(*object, "error"); message && !text::isBlank(*message)) {
      std::string clean = text::sanitizeUtf8(text::trim(*message));
      if (text::graphemeCount(clean) > kMaxServerErrorChars) clean = text::graphemePrefix(clean, kMaxServerErrorChars) + "...";
      return clean;
    }
  }
  return "账号服务返回异常：HTTP " + std::to_string(response.status) + "。";
}

bool isCredentialSafeURL(std::string_view url) {
  const std::string lower = text::toLower(url);
  if (text::startsWith(lower, "https://")) return !urlHost(url).empty();
  if (text::startsWith(lower, "http://")) return isLoopbackHost(urlHost(url));
  return false;
}

std::string websiteURLFor(std::string_view base, std::string_view path) {
  std::string joined(base);
  while (!joined.empty() && joined.back() == '/') joined.pop_back();
  if (path.empty() || path.front() != '/') joined += '/';
  joined += path;
  return joined;
}

MirlaAccountClient::MirlaAccountClient(Dispatcher& dispatcher, HttpClient& http, std::string websiteURL)
    : dispatcher_(dispatcher), http_(http), websiteURL_(text::trim(websiteURL)) {}

void MirlaAccountClient::submit(AccountAction action, std::string_view email, std::string_view password,
                                std::function<void(std::string)> done) {
  if (!isConfigured()) return done(std::string(kAccountNotConfiguredStatus));
  if (auto refusal = accountFormRefusal(email, password)) return done(*refusal);
  const std::string url = websiteURLFor(
      websiteURL_, action == AccountAction::signIn ? "/api/auth/email/login" : "/api/auth/email/register");
  if (!isCredentialSafeURL(url)) return done(std::string(kAccountInsecureStatus));
  Json body = Json::object();
  body["email"] = text::trim(email);
  body["password"] = std::string(password);
  http_.send(jsonPost(url, body.dump(-1, ' ', false, Json::error_handler_t::replace), kAccountTimeout), dispatcher_.mainQueue(),
             [weak = alive_.weak(), done = std::move(done)](HttpOutcome outcome) {
               if (!weak.lock()) return;
               done(accountStatusFor(outcome));
             });
}

std::string MirlaAccountClient::googleSignInURL() const {
  return isConfigured() ? websiteURLFor(websiteURL_, "/api/auth/google/start") : std::string();
}

}  // namespace sorvane
