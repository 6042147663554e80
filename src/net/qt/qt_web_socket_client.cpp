#include "net/qt/qt_web_socket_client.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QWebSocket>

#include <atomic>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "core/dispatch.h"

namespace sorvane {
namespace {

using namespace std::chrono_literals;

// How long a socket closed by its owner may wait for the peer's close reply.
constexpr Milliseconds kCloseGrace = 2000ms;

bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

bool isSafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

std::optional<std::string> requestProblem(const WebSocketRequest& request) {
  auto url = parseWebSocketURL(request.url);
  if (!url) return "invalid URL";
  if (!url->secure && !isLoopbackHost(url->host)) return "refused plain ws to a non-loopback host";
  for (const auto& [name, value] : request.headers) {
    if (!isHeaderName(name) || !isSafeHeaderValue(value)) return "invalid header";
  }
  return std::nullopt;
}

struct Frame {
  bool binary = false;
  QByteArray payload;
};

// One connection, confined to the network queue except for `silenced`, which the handle
// sets from the owner's queue so that nothing is delivered after its own close.
struct SocketState : std::enable_shared_from_this<SocketState> {
  enum class Phase { opening, open, ended };

  SocketState(SerialQueue& network, SerialQueue& events, WebSocketEvents callbacks)
      : networkQueue(network), eventQueue(events), callbacks(std::make_shared<WebSocketEvents>(std::move(callbacks))) {}

  template <typename Call>
  void deliver(Call call) {
    eventQueue.post([silenced = silenced, callbacks = callbacks, call = std::move(call)]() mutable {
      if (!silenced->load()) call(*callbacks);
    });
  }

  void open(const WebSocketRequest& request) {
    if (auto problem = requestProblem(request)) {
      fail(*problem);
      return;
    }
    socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest);
    socket->setMaxAllowedIncomingMessageSize(kMaxWebSocketMessageBytes);
    socket->setMaxAllowedIncomingFrameSize(kMaxWebSocketMessageBytes);
    // The lambdas keep the connection alive as long as the socket lives; the socket is
    // only ever deleted on this thread.
    auto self = shared_from_this();
    QObject::connect(socket, &QWebSocket::connected, socket, [self] { self->opened(); });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [self](const QString& message) {
      self->deliver([text = message.toStdString()](WebSocketEvents& e) mutable {
        if (e.onText) e.onText(std::move(text));
      });
    });
    QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket, [self](const QByteArray& message) {
      self->deliver([bytes = message.toStdString()](WebSocketEvents& e) mutable {
        if (e.onBinary) e.onBinary(std::move(bytes));
      });
    });
    QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
                     [self](QAbstractSocket::SocketError) {
                       if (self->socket) self->fail(self->socket->errorString().toStdString());
                     });
    QObject::connect(socket, &QWebSocket::disconnected, socket, [self] { self->disconnected(); });

    QNetworkRequest qtRequest(QUrl(QString::fromStdString(request.url)));
    for (const auto& [name, value] : request.headers) {
      qtRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    socket->open(qtRequest);

    const Milliseconds timeout = request.timeout;
    if (timeout.count() > 0) {
      networkQueue.postAfter(timeout, [weak = weak_from_this(), timeout] {
        auto connection = weak.lock();
        if (connection && connection->phase == Phase::opening) {
          connection->fail("handshake timed out after " + std::to_string(timeout.count()) + " ms");
        }
      });
    }
  }

  void write(const Frame& frame) {
    if (frame.binary) {
      socket->sendBinaryMessage(frame.payload);
    } else {
      socket->sendTextMessage(QString::fromUtf8(frame.payload));
    }
  }

  void send(Frame frame) {
    switch (phase) {
      case Phase::opening:
        queued.push_back(std::move(frame));
        break;
      case Phase::open:
        write(frame);
        break;
      case Phase::ended:
        break;
    }
  }

  void opened() {
    if (phase != Phase::opening) return;
    phase = Phase::open;
    // Everything sent while opening goes out first, in order.
    auto waiting = std::move(queued);
    queued.clear();
    for (const auto& frame : waiting) write(frame);
    deliver([](WebSocketEvents& e) {
      if (e.onOpen) e.onOpen();
    });
  }

  void disconnected() {
    if (phase == Phase::ended) return;
    const int code = socket->closeCode();
    const std::string reason = socket->closeReason().toStdString();
    if (code == kWebSocketCloseNormal || code == kWebSocketCloseGoingAway) {
      phase = Phase::ended;
      queued.clear();
      deliver([code, reason](WebSocketEvents& e) {
        if (e.onClose) e.onClose(code, reason);
      });
      discardSocket();
      return;
    }
    std::string description = code == 1009 ? "message exceeds " + std::to_string(kMaxWebSocketMessageBytes) + " bytes"
                                            : "connection closed with code " + std::to_string(code);
    if (!reason.empty() && code != 1009) description += ": " + reason;
    fail(description);
  }

  void fail(std::string description) {
    if (phase == Phase::ended) return;
    phase = Phase::ended;
    const std::size_t dropped = queued.size();
    queued.clear();
    deliver([failure = WebSocketFailure{std::move(description), dropped}](WebSocketEvents& e) mutable {
      if (e.onFailure) e.onFailure(std::move(failure));
    });
    if (socket) {
      QObject::disconnect(socket, nullptr, nullptr, nullptr);
      socket->abort();
      discardSocket();
    }
  }

  // The owner's close (or the handle's destruction): no event follows.
  void closeByOwner(int code, const std::string& reason) {
    const Phase was = phase;
    phase = Phase::ended;
    queued.clear();
    if (!socket) return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    if (was != Phase::open) {
      socket->abort();
      discardSocket();
      return;
    }
    // Frames already written go out before the close frame; the socket then waits for
    // the peer's reply, but not for ever.
    auto self = shared_from_this();
    QObject::connect(socket, &QWebSocket::disconnected, socket, [self] { self->discardSocket(); });
    socket->close(static_cast<QWebSocketProtocol::CloseCode>(code), QString::fromStdString(reason));
    networkQueue.postAfter(kCloseGrace, [weak = weak_from_this()] {
      if (auto state = weak.lock(); state && state->socket) {
        QObject::disconnect(state->socket, nullptr, nullptr, nullptr);
        state->socket->abort();
        state->discardSocket();
      }
    });
  }

  void abortNow() {
    phase = Phase::ended;
    queued.clear();
    if (!socket) return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->abort();
    delete socket;
    socket = nullptr;
  }

  void discardSocket() {
    if (!socket) return;
    QObject::disconnect(socket, nullptr, nullptr, nullptr);
    socket->deleteLater();  // may be inside one of its own signals
    socket = nullptr;
  }

  SerialQueue& networkQueue;
  SerialQueue& eventQueue;
  std::shared_ptr<WebSocketEvents> callbacks;
  std::shared_ptr<std::atomic<bool>> silenced = std::make_shared<std::atomic<bool>>(false);
  QWebSocket* socket = nullptr;
  Phase phase = Phase::opening;
  std::deque<Frame> queued;
};

}  // namespace

struct QtWebSocketClient::Registry {
  std::vector<std::weak_ptr<SocketState>> connections;
  bool closed = false;

  void add(const std::shared_ptr<SocketState>& connection) {
    std::erase_if(connections, [](const auto& weak) { return weak.expired(); });
    connections.push_back(connection);
  }
  void closeAll() {
    closed = true;
    for (auto& weak : connections) {
      if (auto connection = weak.lock()) {
        connection->silenced->store(true);
        connection->abortNow();
      }
    }
    connections.clear();
  }
};

namespace {

class QtWebSocketConnection final : public WebSocketConnection {
 public:
  QtWebSocketConnection(SerialQueue& networkQueue, std::shared_ptr<SocketState> connection)
      : networkQueue_(networkQueue), connection_(std::move(connection)) {}

  ~QtWebSocketConnection() override { close(kWebSocketCloseGoingAway, {}); }

  void sendText(std::string text) override { post(Frame{false, QByteArray::fromStdString(text)}); }
  void sendBinary(std::string bytes) override { post(Frame{true, QByteArray::fromStdString(bytes)}); }

  void close(int code, std::string reason) override {
    if (closed_.exchange(true)) return;
    connection_->silenced->store(true);
    networkQueue_.post([connection = connection_, code, reason = std::move(reason)] {
      connection->closeByOwner(code, reason);
    });
  }

 private:
  void post(Frame frame) {
    networkQueue_.post([connection = connection_, frame = std::move(frame)]() mutable {
      connection->send(std::move(frame));
    });
  }

  SerialQueue& networkQueue_;
  std::shared_ptr<SocketState> connection_;
  std::atomic<bool> closed_{false};
};

}  // namespace

QtWebSocketClient::QtWebSocketClient(SerialQueue& networkQueue)
    : networkQueue_(networkQueue), registry_(std::make_shared<Registry>()) {}

QtWebSocketClient::~QtWebSocketClient() {
  networkQueue_.runSync([registry = registry_] { registry->closeAll(); });
}

std::unique_ptr<WebSocketConnection> QtWebSocketClient::connect(WebSocketRequest request, SerialQueue& eventQueue,
                                                                WebSocketEvents events) {
  auto connection = std::make_shared<SocketState>(networkQueue_, eventQueue, std::move(events));
  networkQueue_.post([registry = registry_, connection, request = std::move(request)] {
    if (connection->phase == SocketState::Phase::ended) return;  // closed before it started
    if (registry->closed) {
      connection->fail("client closed");
      return;
    }
    registry->add(connection);
    connection->open(request);
  });
  return std::make_unique<QtWebSocketConnection>(networkQueue_, connection);
}

}  // namespace sorvane
