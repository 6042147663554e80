#include "net/qt/qt_http_client.h"

#include <QByteArray>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QVariant>

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "core/dispatch.h"

namespace sorvane {
namespace {

bool isTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

bool isToken(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!isTokenChar(c)) return false;
  }
  return true;
}

// A value may hold any text on one line; CR or LF would start a header of its own.
bool isSafeHeaderValue(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool isLoopbackHost(const QString& host) {
  if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) return true;
  const QHostAddress address(host);
  return !address.isNull() && address.isLoopback();
}

// Headers whose value is a secret: with one of them the request must not be redirected
// to wherever a server points.
bool carriesCredential(const HttpHeaders& headers) {
  for (const auto& [name, value] : headers) {
    const QString lower = QString::fromStdString(name).toLower();
    if (lower == QLatin1String("authorization") || lower == QLatin1String("proxy-authorization") ||
        lower == QLatin1String("cookie") || lower.contains(QLatin1String("key")) ||
        lower.contains(QLatin1String("token"))) {
      return true;
    }
  }
  return false;
}

std::string bodyTooLargeDescription() {
  return "response body exceeds " + std::to_string(kMaxResponseBodyBytes) + " bytes";
}

// Why the request must not be sent, or nothing when it may.
std::optional<std::string> requestProblem(const HttpRequest& request, QUrl& url) {
  if (!isToken(request.method)) return "invalid method";
  url = QUrl(QString::fromStdString(request.url), QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return "invalid URL";
  const QString scheme = url.scheme().toLower();
  if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) return "unsupported URL scheme";
  if (scheme == QLatin1String("http") && !isLoopbackHost(url.host())) {
    return "refused plain http to a non-loopback host";
  }
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isSafeHeaderValue(value)) return "invalid header";
  }
  return std::nullopt;
}

// Qt reports 4xx and 5xx statuses as errors of its own; those still carry a complete
// response. Every other error means the exchange itself failed.
bool errorCarriesResponse(QNetworkReply::NetworkError error) {
  using E = QNetworkReply::NetworkError;
  return error == E::NoError || (error >= E::ContentAccessDenied && error <= E::UnknownContentError) ||
         (error >= E::InternalServerError && error <= E::UnknownServerError) ||
         error == E::ProtocolInvalidOperationError || error == E::ProxyAuthenticationRequiredError;
}

HttpError::Kind errorKind(QNetworkReply::NetworkError error) {
  using E = QNetworkReply::NetworkError;
  switch (error) {
    case E::TimeoutError:
      return HttpError::Kind::timeout;
    case E::OperationCanceledError:
      return HttpError::Kind::cancelled;
    case E::ConnectionRefusedError:
    case E::RemoteHostClosedError:
    case E::HostNotFoundError:
    case E::SslHandshakeFailedError:
    case E::TemporaryNetworkFailureError:
    case E::NetworkSessionFailedError:
    case E::UnknownNetworkError:
    case E::ProxyConnectionRefusedError:
    case E::ProxyConnectionClosedError:
    case E::ProxyNotFoundError:
    case E::ProxyTimeoutError:
    case E::UnknownProxyError:
      return HttpError::Kind::connection;
    default:
      return HttpError::Kind::other;
  }
}

HttpOutcome outcomeOf(QNetworkReply& reply) {
  const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
  const QNetworkReply::NetworkError error = reply.error();
  if (!errorCarriesResponse(error)) {
    return HttpError{errorKind(error), reply.errorString().toStdString()};
  }
  if (!status.isValid() || status.toInt() <= 0) {
    return HttpError{HttpError::Kind::other, "response without an HTTP status"};
  }
  HttpResponse response;
  response.status = status.toInt();
  for (const auto& [name, value] : reply.rawHeaderPairs()) {
    response.headers.emplace_back(name.toStdString(), value.toStdString());
  }
  const QByteArray body = reply.readAll();
  if (static_cast<std::size_t>(body.size()) > kMaxResponseBodyBytes) {
    return HttpError{HttpError::Kind::other, bodyTooLargeDescription()};
  }
  response.body = body.toStdString();
  return response;
}

void deliver(SerialQueue& queue, HttpCompletion completion, HttpOutcome outcome) {
  queue.post([completion = std::move(completion), outcome = std::move(outcome)]() mutable {
    if (completion) completion(std::move(outcome));
  });
}

}  // namespace

struct QtHttpClient::State {
  struct InFlight {
    QNetworkReply* reply = nullptr;
    SerialQueue* completionQueue = nullptr;
    HttpCompletion completion;
  };

  explicit State(SerialQueue& queue) : networkQueue(queue) {}

  void start(const std::shared_ptr<State>& self, HttpRequest request, QUrl url, SerialQueue& completionQueue,
             HttpCompletion completion) {
    if (closed) {
      deliver(completionQueue, std::move(completion), HttpError{HttpError::Kind::cancelled, "client closed"});
      return;
    }
    if (!manager) manager = std::make_unique<QNetworkAccessManager>();

    QNetworkRequest qtRequest(url);
    for (const auto& [name, value] : request.headers) {
      qtRequest.setRawHeader(QByteArray::fromStdString(name), QByteArray::fromStdString(value));
    }
    if (carriesCredential(request.headers)) {
      qtRequest.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    }
    const QByteArray verb = QByteArray::fromStdString(request.method);
    const QByteArray body = QByteArray::fromStdString(request.body);
    // HEAD gets its own call so that Qt expects no body after the headers; every other
    // method, standard or not, goes out verbatim with its body (and no default headers).
    QNetworkReply* reply = verb == "HEAD" && body.isEmpty() ? manager->head(qtRequest)
                                                            : manager->sendCustomRequest(qtRequest, verb, body);

    const uint64_t id = nextId++;
    inFlight.emplace(id, InFlight{reply, &completionQueue, std::move(completion)});
    // `this` is safe in the slot: the manager, which ends the connection when destroyed,
    // is destroyed before the state.
    QObject::connect(reply, &QNetworkReply::finished, manager.get(), [this, id] { finished(id); });
    // Announced or received, a body beyond the cap ends the exchange before it is buffered.
    QObject::connect(reply, &QNetworkReply::downloadProgress, manager.get(),
                     [this, id](qint64 received, qint64 total) {
                       const auto cap = static_cast<qint64>(kMaxResponseBodyBytes);
                       if (received > cap || total > cap) refuseOversized(id);
                     });

    const Milliseconds timeout = request.timeout;
    if (timeout.count() > 0) {
      networkQueue.postAfter(timeout, [weak = std::weak_ptr<State>(self), id, timeout] {
        if (auto state = weak.lock()) state->expire(id, timeout);
      });
    }
  }

  std::optional<InFlight> take(uint64_t id) {
    auto it = inFlight.find(id);
    if (it == inFlight.end()) return std::nullopt;
    InFlight entry = std::move(it->second);
    inFlight.erase(it);
    return entry;
  }

  void finished(uint64_t id) {
    auto entry = take(id);
    if (!entry) return;
    HttpOutcome outcome = outcomeOf(*entry->reply);
    entry->reply->deleteLater();
    deliver(*entry->completionQueue, std::move(entry->completion), std::move(outcome));
  }

  // Ends an exchange that is still running without letting its reply report again.
  static void silenceAndAbort(QNetworkReply& reply) {
    QObject::disconnect(&reply, nullptr, nullptr, nullptr);
    reply.abort();
  }

  void refuseOversized(uint64_t id) {
    auto entry = take(id);
    if (!entry) return;
    silenceAndAbort(*entry->reply);
    entry->reply->deleteLater();
    deliver(*entry->completionQueue, std::move(entry->completion),
            HttpError{HttpError::Kind::other, bodyTooLargeDescription()});
  }

  void expire(uint64_t id, Milliseconds timeout) {
    auto entry = take(id);
    if (!entry) return;
    silenceAndAbort(*entry->reply);
    entry->reply->deleteLater();
    deliver(*entry->completionQueue, std::move(entry->completion),
            HttpError{HttpError::Kind::timeout, "timed out after " + std::to_string(timeout.count()) + " ms"});
  }

  void close() {
    closed = true;
    auto pending = std::move(inFlight);
    inFlight.clear();
    for (auto& [id, entry] : pending) {
      silenceAndAbort(*entry.reply);
      delete entry.reply;
      deliver(*entry.completionQueue, std::move(entry.completion),
              HttpError{HttpError::Kind::cancelled, "client closed"});
    }
    manager.reset();
  }

  SerialQueue& networkQueue;
  std::unique_ptr<QNetworkAccessManager> manager;  // created on first use, on the network queue
  std::unordered_map<uint64_t, InFlight> inFlight;
  uint64_t nextId = 1;
  bool closed = false;
};

QtHttpClient::QtHttpClient(SerialQueue& networkQueue)
    : networkQueue_(networkQueue), state_(std::make_shared<State>(networkQueue)) {}

QtHttpClient::~QtHttpClient() {
  // The network objects belong to the network queue's thread and must end there.
  networkQueue_.runSync([state = state_] { state->close(); });
}

void QtHttpClient::send(HttpRequest request, SerialQueue& completionQueue, HttpCompletion completion) {
  QUrl url;
  if (auto problem = requestProblem(request, url)) {
    deliver(completionQueue, std::move(completion), HttpError{HttpError::Kind::other, *problem});
    return;
  }
  networkQueue_.post([state = state_, request = std::move(request), url = std::move(url), &completionQueue,
                      completion = std::move(completion)]() mutable {
    state->start(state, std::move(request), std::move(url), completionQueue, std::move(completion));
  });
}

}  // namespace sorvane
