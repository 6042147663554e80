#include "net/web_socket.h"

#include <gtest/gtest.h>

namespace sorvane {
namespace {

TEST(WebSocketURLTest, AcceptsWsAndWssWithTheirParts) {
  struct Case {
    const char* url;
    bool secure;
    const char* host;
    int port;
    const char* path;
  };
  const Case cases[] = {
      {"wss://dashscope.aliyuncs.com/api-ws/v1/realtime?model=m", true, "dashscope.aliyuncs.com", 443,
       "/api-ws/v1/realtime?model=m"},
      {"ws://127.0.0.1:8080/v1/listen", false, "127.0.0.1", 8080, "/v1/listen"},
      {"WSS://api.deepgram.com", true, "api.deepgram.com", 443, "/"},
      {"ws://[::1]:9000?x=1", false, "::1", 9000, "/?x=1"},
      {"ws://[::1]/p#frag", false, "::1", 80, "/p"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    auto url = parseWebSocketURL(c.url);
    ASSERT_TRUE(url);
    EXPECT_EQ(url->secure, c.secure);
    EXPECT_EQ(url->host, c.host);
    EXPECT_EQ(url->port, c.port);
    EXPECT_EQ(url->pathAndQuery, c.path);
  }
}

TEST(WebSocketURLTest, RejectsWhatIsNotAWebSocketURL) {
  for (const char* url : {"", "https://host/x", "ws://", "ws://:80/x", "ws://host:0/", "ws://host:70000/",
                          "ws://host:/", "ws://host:8a/", "ws://user@host/", "ws://ho st/", "ws://host/\r\nX: y",
                          "ws://[::1/", "ws://[zz]/", "wss://host\x01/"}) {
    SCOPED_TRACE(url);
    EXPECT_FALSE(parseWebSocketURL(url));
  }
}

TEST(WebSocketURLTest, LoopbackHostsAreExactlyTheLocalOnes) {
  for (const char* host : {"127.0.0.1", "127.1.2.3", "localhost", "LOCALHOST", "::1"}) {
    EXPECT_TRUE(isLoopbackHost(host)) << host;
  }
  for (const char* host : {"127.0.0", "127.0.0.256", "127.0.0.1.evil.com", "128.0.0.1", "localhost.evil.com",
                           "10.0.0.1", "", "::2"}) {
    EXPECT_FALSE(isLoopbackHost(host)) << host;
  }
}

}  // namespace
}  // namespace sorvane
