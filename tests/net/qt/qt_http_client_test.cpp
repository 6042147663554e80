#include "net/qt/qt_http_client.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include <gtest/gtest.h>

#include "core/clock.h"
#include "core/qt/qt_dispatcher.h"
#include "support/qt/main_loop_wait.h"
#include "support/loopback_http_server.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackHttpServer;
using testing::LoopbackRequest;
using testing::LoopbackResponse;
using testing::RefusingLoopbackPort;
using testing::waitUntil;

// Everything one completion saw.
struct Delivery {
  HttpOutcome outcome;
  bool onCompletionQueue = false;
  std::chrono::steady_clock::time_point at;
};

class QtHttpClientTest : public ::testing::Test {
 protected:
  QtHttpClientTest()
      : dispatcher_(makeQtDispatcher(SystemClock::instance())),
        networkQueue_(dispatcher_->queue("app.sorvane.http-test")),
        client_(std::make_unique<QtHttpClient>(networkQueue_)) {}

  // Sends on behalf of the test; completions are collected from any queue.
  void send(HttpRequest request, SerialQueue* completionQueue = nullptr) {
    SerialQueue& queue = completionQueue ? *completionQueue : dispatcher_->mainQueue();
    client_->send(std::move(request), queue, [this, &queue](HttpOutcome outcome) {
      std::lock_guard lock(mutex_);
      deliveries_.push_back({std::move(outcome), queue.isCurrent(), std::chrono::steady_clock::now()});
    });
  }

  std::size_t deliveryCount() {
    std::lock_guard lock(mutex_);
    return deliveries_.size();
  }

  std::vector<Delivery> deliveries() {
    std::lock_guard lock(mutex_);
    return deliveries_;
  }

  bool waitForDeliveries(std::size_t count) {
    return waitUntil([&] { return deliveryCount() >= count; });
  }

  // Lets anything still queued on the network and main queues run, so that a second
  // completion of the same request would have arrived by now.
  void drainQueues() {
    networkQueue_.runSync([] {});
    QCoreApplication::processEvents();
  }

  // The single outcome of one request sent to the main queue.
  HttpOutcome exchange(HttpRequest request) {
    send(std::move(request));
    EXPECT_TRUE(waitForDeliveries(1));
    drainQueues();
    auto all = deliveries();
    EXPECT_EQ(all.size(), 1u);
    EXPECT_TRUE(all.empty() || all.front().onCompletionQueue);
    std::lock_guard lock(mutex_);
    deliveries_.clear();
    return all.empty() ? HttpOutcome(HttpError{HttpError::Kind::other, "no delivery"}) : all.front().outcome;
  }

  static HttpRequest request(std::string method, std::string url, std::string body = {},
                             std::chrono::milliseconds timeout = 10s) {
    HttpRequest request;
    request.method = std::move(method);
    request.url = std::move(url);
    request.body = std::move(body);
    request.timeout = timeout;
    return request;
  }

  std::unique_ptr<Dispatcher> dispatcher_;
  SerialQueue& networkQueue_;
  std::unique_ptr<QtHttpClient> client_;
  std::mutex mutex_;
  std::vector<Delivery> deliveries_;
};

TEST_F(QtHttpClientTest, DeliversStatusHeadersAndBodyAndSendsTheRequestAsGiven) {
  LoopbackHttpServer server([](const LoopbackRequest&) {
    return LoopbackResponse::make(201, "{\"ok\":\"好\"}", {{"X-Reply", "yes"}});
  });
  HttpRequest sent = jsonPost(server.url("/v1/chat/completions?mode=fast"), "{\"text\":\"你好 world\"}", 10s,
                              {{"Authorization", "Bearer sk-1"}, {"X-Trace", "a b;c"}});

  const HttpOutcome outcome = exchange(sent);

  ASSERT_TRUE(std::holds_alternative<HttpResponse>(outcome)) << std::get<HttpError>(outcome).description;
  const auto& response = std::get<HttpResponse>(outcome);
  EXPECT_EQ(response.status, 201);
  EXPECT_TRUE(response.isSuccess());
  EXPECT_EQ(response.header("x-reply"), "yes");
  EXPECT_EQ(response.body, "{\"ok\":\"好\"}");

  const auto received = server.requests();
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].method, "POST");
  EXPECT_EQ(received[0].path, "/v1/chat/completions?mode=fast");
  EXPECT_EQ(received[0].header("authorization"), "Bearer sk-1");
  EXPECT_EQ(received[0].header("Content-Type"), "application/json");
  EXPECT_EQ(received[0].header("X-Trace"), "a b;c");
  EXPECT_EQ(received[0].body, "{\"text\":\"你好 world\"}");
}

TEST_F(QtHttpClientTest, SendsAnyMethodWithItsBody) {
  LoopbackHttpServer server([](const LoopbackRequest& request) {
    return LoopbackResponse::make(200, "echo:" + request.body);
  });
  struct Case {
    const char* method;
    const char* body;
    const char* responseBody;  // a HEAD response has none
  };
  const Case cases[] = {
      {"GET", "", "echo:"},          {"PUT", "put-body", "echo:put-body"},
      {"DELETE", "", "echo:"},       {"PATCH", "{\"a\":1}", "echo:{\"a\":1}"},
      {"PROPFIND", "x", "echo:x"},   {"HEAD", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    const std::size_t before = server.requestCount();
    const HttpOutcome outcome = exchange(request(c.method, server.url("/m"), c.body));
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(outcome));
    EXPECT_EQ(std::get<HttpResponse>(outcome).body, c.responseBody);
    const auto received = server.requests();
    ASSERT_EQ(received.size(), before + 1);
    EXPECT_EQ(received.back().method, c.method);
    EXPECT_EQ(received.back().body, c.body);
  }
}

TEST_F(QtHttpClientTest, ANon2xxStatusIsAResponseWithItsBody) {
  LoopbackHttpServer server;
  for (int status : {400, 401, 403, 404, 409, 429, 500, 502, 503}) {
    SCOPED_TRACE(status);
    server.setHandler([status](const LoopbackRequest&) {
      return LoopbackResponse::make(status, "{\"error\":" + std::to_string(status) + "}");
    });
    const HttpOutcome outcome = exchange(jsonPost(server.url("/v1"), "{}", 10s));
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(outcome)) << std::get<HttpError>(outcome).description;
    const auto& response = std::get<HttpResponse>(outcome);
    EXPECT_EQ(response.status, status);
    EXPECT_FALSE(response.isSuccess());
    EXPECT_EQ(response.body, "{\"error\":" + std::to_string(status) + "}");
  }
}

TEST_F(QtHttpClientTest, TimeoutFiresAtTheRequestedTimeAndIsReportedOnce) {
  auto server = std::make_unique<LoopbackHttpServer>([](const LoopbackRequest&) { return LoopbackResponse::held(); });
  const auto started = std::chrono::steady_clock::now();
  send(request("POST", server->url("/slow"), "{}", 300ms));
  ASSERT_TRUE(waitForDeliveries(1));

  auto all = deliveries();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_TRUE(all[0].onCompletionQueue);
  ASSERT_TRUE(std::holds_alternative<HttpError>(all[0].outcome));
  const auto& error = std::get<HttpError>(all[0].outcome);
  EXPECT_EQ(error.kind, HttpError::Kind::timeout);
  EXPECT_EQ(error.description, "timed out after 300 ms");
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(all[0].at - started);
  EXPECT_GE(elapsed.count(), 295);
  EXPECT_LT(elapsed.count(), 3000);
  EXPECT_EQ(server->requestCount(), 1u);

  // Releasing the held connection must not produce a second report.
  server.reset();
  drainQueues();
  EXPECT_EQ(deliveryCount(), 1u);
}

TEST_F(QtHttpClientTest, AResponseWithinTheDeadlineIsNotCutShort) {
  LoopbackHttpServer server([](const LoopbackRequest&) {
    auto response = LoopbackResponse::make(200, "late");
    response.delay = 150ms;
    return response;
  });
  const HttpOutcome outcome = exchange(request("GET", server.url("/"), "", 2s));
  ASSERT_TRUE(std::holds_alternative<HttpResponse>(outcome)) << std::get<HttpError>(outcome).description;
  EXPECT_EQ(std::get<HttpResponse>(outcome).body, "late");
}

TEST_F(QtHttpClientTest, TransportFailuresAreConnectionErrors) {
  RefusingLoopbackPort refusing;
  const HttpOutcome refused = exchange(request("GET", refusing.url("/")));
  ASSERT_TRUE(std::holds_alternative<HttpError>(refused));
  EXPECT_EQ(std::get<HttpError>(refused).kind, HttpError::Kind::connection);
  EXPECT_FALSE(std::get<HttpError>(refused).description.empty());

  // A body cut short must never pass for a complete response.
  for (auto delivery : {LoopbackResponse::Delivery::truncateBody, LoopbackResponse::Delivery::closeWithoutAnswer}) {
    SCOPED_TRACE(static_cast<int>(delivery));
    LoopbackHttpServer server([delivery](const LoopbackRequest&) {
      auto response = LoopbackResponse::make(200, std::string(4096, 'x'));
      response.delivery = delivery;
      return response;
    });
    const HttpOutcome outcome = exchange(request("GET", server.url("/")));
    ASSERT_TRUE(std::holds_alternative<HttpError>(outcome));
    EXPECT_EQ(std::get<HttpError>(outcome).kind, HttpError::Kind::connection);
  }
}

TEST_F(QtHttpClientTest, UnsafeRequestsFailWithoutBeingSent) {
  LoopbackHttpServer server;
  struct Case {
    const char* name;
    HttpRequest request;
  };
  const std::string good = server.url("/");
  const Case cases[] = {
      {"file scheme", request("GET", "file:///etc/passwd")},
      {"ftp scheme", request("GET", "ftp://127.0.0.1:" + std::to_string(server.port()) + "/")},
      {"no host", request("GET", "http:///path")},
      {"not a URL", request("GET", "::::")},
      {"empty method", request("", good)},
      {"method with a space", request("GE T", good)},
      {"line break in a header value", [&] {
         auto r = request("GET", good);
         r.headers = {{"Authorization", "Bearer k\r\nX-Injected: 1"}};
         return r;
       }()},
      {"colon in a header name", [&] {
         auto r = request("GET", good);
         r.headers = {{"X-A: b", "c"}};
         return r;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const HttpOutcome outcome = exchange(c.request);
    ASSERT_TRUE(std::holds_alternative<HttpError>(outcome));
    EXPECT_EQ(std::get<HttpError>(outcome).kind, HttpError::Kind::other);
  }
  EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(QtHttpClientTest, PlainHttpGoesOnlyToLoopbackHosts) {
  const std::string refusal = "refused plain http to a non-loopback host";
  struct Case {
    const char* url;
    bool refused;
  };
  RefusingLoopbackPort closed;
  const std::string port = std::to_string(closed.port());
  const Case cases[] = {
      {"http://example.com/v1/chat/completions", true},
      {"http://10.0.0.1:8080/", true},
      {"http://[2001:db8::1]/", true},
      {"http://127.0.0.1.example.com/", true},
      {"http://localhost.example.com/", true},
      {"https://127.0.0.1:1/", false},  // https to anywhere is allowed (it then fails to connect)
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const HttpOutcome outcome = exchange(request("POST", c.url, "{}", 2s));
    ASSERT_TRUE(std::holds_alternative<HttpError>(outcome));
    EXPECT_EQ(std::get<HttpError>(outcome).description == refusal, c.refused)
        << std::get<HttpError>(outcome).description;
  }
  // Loopback names and addresses are sent; nothing listens here, so they are refused by the peer.
  for (const std::string& url : {"http://127.0.0.1:" + port + "/", "http://127.0.0.2:" + port + "/",
                                "http://localhost:" + port + "/", "http://[::1]:" + port + "/"}) {
    SCOPED_TRACE(url);
    const HttpOutcome outcome = exchange(request("GET", url, "", 2s));
    ASSERT_TRUE(std::holds_alternative<HttpError>(outcome));
    EXPECT_NE(std::get<HttpError>(outcome).description, refusal);
  }
}

TEST_F(QtHttpClientTest, ARequestCarryingACredentialDoesNotFollowRedirects) {
  LoopbackHttpServer server([&](const LoopbackRequest& request) {
    if (request.path == "/start") return LoopbackResponse::make(302, "", {{"Location", "/elsewhere"}});
    return LoopbackResponse::make(200, "arrived");
  });
  struct Case {
    const char* name;
    HttpHeaders headers;
    int status;
    bool followed;
  };
  const Case cases[] = {
      {"no credential", {{"Accept", "application/json"}}, 200, true},
      {"authorization", {{"Authorization", "Bearer sk-secret"}}, 302, false},
      {"api key header", {{"X-Api-Key", "sk-secret"}}, 302, false},
      {"cookie", {{"Cookie", "session=1"}}, 302, false},
  };
  // Counted by path: Qt may send a request once more when a kept-alive connection closes
  // under it, so the total number of requests is not exact.
  auto redirectedRequests = [&] {
    const auto all = server.requests();
    return std::count_if(all.begin(), all.end(),
                         [](const LoopbackRequest& r) { return r.path == "/elsewhere"; });
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto before = redirectedRequests();
    auto sent = request("GET", server.url("/start"));
    sent.headers = c.headers;
    const HttpOutcome outcome = exchange(sent);
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(outcome)) << std::get<HttpError>(outcome).description;
    EXPECT_EQ(std::get<HttpResponse>(outcome).status, c.status);
    EXPECT_EQ(redirectedRequests() - before > 0, c.followed);
  }
}

TEST_F(QtHttpClientTest, ABodyBeyondTheCapIsATransportError) {
  LoopbackHttpServer server([](const LoopbackRequest& request) {
    const std::size_t size = request.path == "/at-cap" ? kMaxResponseBodyBytes : kMaxResponseBodyBytes + 1;
    return LoopbackResponse::make(200, std::string(size, 'x'));
  });
  const HttpOutcome atCap = exchange(request("GET", server.url("/at-cap")));
  ASSERT_TRUE(std::holds_alternative<HttpResponse>(atCap)) << std::get<HttpError>(atCap).description;
  EXPECT_EQ(std::get<HttpResponse>(atCap).body.size(), kMaxResponseBodyBytes);

  const HttpOutcome beyond = exchange(request("GET", server.url("/beyond")));
  ASSERT_TRUE(std::holds_alternative<HttpError>(beyond));
  EXPECT_EQ(std::get<HttpError>(beyond).kind, HttpError::Kind::other);
  EXPECT_EQ(std::get<HttpError>(beyond).description, "response body exceeds 8388608 bytes");
}

TEST_F(QtHttpClientTest, CompletesOnTheCallersQueueWhicheverItIs) {
  LoopbackHttpServer server;
  SerialQueue& other = dispatcher_->queue("app.sorvane.http-test-caller");
  send(request("GET", server.url("/")), &other);
  send(request("GET", "file:///etc/passwd"), &other);  // fails before reaching the network
  send(request("GET", server.url("/")), &networkQueue_);
  ASSERT_TRUE(waitForDeliveries(3));
  drainQueues();
  const auto all = deliveries();
  ASSERT_EQ(all.size(), 3u);
  for (const auto& delivery : all) EXPECT_TRUE(delivery.onCompletionQueue);
}

TEST_F(QtHttpClientTest, DestroyingTheClientCancelsEveryRequestInFlightOnce) {
  LoopbackHttpServer server([](const LoopbackRequest&) { return LoopbackResponse::held(); });
  for (int i = 0; i < 3; ++i) send(request("GET", server.url("/held/" + std::to_string(i)), "", 30s));
  ASSERT_TRUE(waitUntil([&] { return server.requestCount() == 3; }));
  send(request("GET", server.url("/just-sent")));  // possibly not yet on the network queue

  client_.reset();
  ASSERT_TRUE(waitForDeliveries(4));
  drainQueues();

  const auto all = deliveries();
  ASSERT_EQ(all.size(), 4u);
  for (const auto& delivery : all) {
    ASSERT_TRUE(std::holds_alternative<HttpError>(delivery.outcome));
    EXPECT_EQ(std::get<HttpError>(delivery.outcome).kind, HttpError::Kind::cancelled);
    EXPECT_TRUE(delivery.onCompletionQueue);
  }
}

TEST_F(QtHttpClientTest, ManyConcurrentRequestsEachCompleteOnceWithTheirOwnResponse) {
  LoopbackHttpServer server([](const LoopbackRequest& request) { return LoopbackResponse::make(200, request.path); });
  constexpr int kRequests = 40;
  std::vector<std::string> bodies;
  std::mutex bodiesMutex;
  for (int i = 0; i < kRequests; ++i) {
    client_->send(request("GET", server.url("/r/" + std::to_string(i))), dispatcher_->mainQueue(),
                  [&](HttpOutcome outcome) {
                    std::lock_guard lock(bodiesMutex);
                    bodies.push_back(std::holds_alternative<HttpResponse>(outcome)
                                         ? std::get<HttpResponse>(outcome).body
                                         : "error: " + std::get<HttpError>(outcome).description);
                  });
  }
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard lock(bodiesMutex);
    return bodies.size() >= kRequests;
  }));
  drainQueues();
  std::sort(bodies.begin(), bodies.end());
  std::vector<std::string> expected;
  for (int i = 0; i < kRequests; ++i) expected.push_back("/r/" + std::to_string(i));
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(bodies, expected);
}

}  // namespace
}  // namespace sorvane
