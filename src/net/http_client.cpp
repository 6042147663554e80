#include "net/http_client.h"

#include "core/unicode_text.h"

namespace sorvane {

std::string HttpResponse::header(std::string_view name) const {
  const std::string wanted = text::toLower(name);
  for (const auto& [key, value] : headers) {
    if (text::toLower(key) == wanted) return value;
  }
  return {};
}

HttpRequest jsonPost(std::string url, std::string body, std::chrono::milliseconds timeout,
                     HttpHeaders extraHeaders) {
  HttpRequest request;
  request.method = "POST";
  request.url = std::move(url);
  request.body = std::move(body);
  request.timeout = timeout;
  request.headers = std::move(extraHeaders);
  request.headers.emplace_back("Content-Type", "application/json");
  return request;
}

}  // namespace sorvane
