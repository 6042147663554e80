// A scripted `HttpClient` for tests in virtual time.
//
// Each request is recorded and answered by the script with the longest matching URL
// suffix (or a 404 when none matches). A scripted reply arrives after its delay on the caller's
// completion queue, as a timer of the virtual dispatcher; a reply slower than the
// request's timeout becomes HttpError{timeout, "timed out after N ms"} at the timeout,
// as the real client reports it. Use it on the test's thread only.
#pragma once

#include <chrono>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "net/http_client.h"

namespace sorvane::testing {

struct FakeHttpReply {
  HttpOutcome outcome;
  std::chrono::milliseconds delay{0};

  static FakeHttpReply response(int status, std::string body, std::chrono::milliseconds delay = {}) {
    HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return {std::move(response), delay};
  }
  static FakeHttpReply error(HttpError::Kind kind, std::string description) {
    return {HttpError{kind, std::move(description)}, {}};
  }
  // Never answers within any timeout the tests use.
  static FakeHttpReply stall() { return {HttpResponse{200, {}, ""}, std::chrono::hours(24)}; }
};

class FakeHttpClient final : public HttpClient {
 public:
  // Replies for URLs ending in `urlSuffix`, used one per request in order; the last one
  // repeats.
  void script(std::string urlSuffix, std::vector<FakeHttpReply> replies) {
    scripts_.push_back({std::move(urlSuffix), std::deque<FakeHttpReply>(replies.begin(), replies.end())});
  }
  void clearScripts() { scripts_.clear(); }

  const std::vector<HttpRequest>& requests() const { return requests_; }
  std::size_t requestCount(std::string_view urlSuffix = {}) const {
    std::size_t n = 0;
    for (const auto& request : requests_) {
      if (endsWith(request.url, urlSuffix)) ++n;
    }
    return n;
  }

  void send(HttpRequest request, SerialQueue& completionQueue, HttpCompletion completion) override {
    FakeHttpReply reply = replyFor(request.url);
    const auto timeout = request.timeout;
    if (timeout.count() > 0 && reply.delay > timeout) {
      reply = {HttpError{HttpError::Kind::timeout, "timed out after " + std::to_string(timeout.count()) + " ms"},
               timeout};
    }
    requests_.push_back(std::move(request));
    completionQueue.postAfter(reply.delay, [completion = std::move(completion), outcome = std::move(reply.outcome)] {
      completion(outcome);
    });
  }

 private:
  struct Script {
    std::string suffix;
    std::deque<FakeHttpReply> replies;
  };
  static bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
  }
  FakeHttpReply replyFor(const std::string& url) {
    Script* best = nullptr;
    for (auto& script : scripts_) {
      if (!endsWith(url, script.suffix) || script.replies.empty()) continue;
      if (!best || script.suffix.size() > best->suffix.size()) best = &script;
    }
    if (!best) return FakeHttpReply::response(404, "");
    FakeHttpReply reply = best->replies.front();
    if (best->replies.size() > 1) best->replies.pop_front();
    return reply;
  }

  std::vector<Script> scripts_;
  std::vector<HttpRequest> requests_;
};

}  // namespace sorvane::testing
