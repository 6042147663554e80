// A scripted `WebSocketClient` for client logic in virtual time.
//
// Every connection is recorded with its request and the frames sent through it (as
// they reach the port, i.e. after the client's send queue ran). The test plays the
// server: `open`, `receiveText`, `fail` and `closeByPeer` post the event to the queue
// the client named, as the real adapter does. Use it on the test's thread only.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/dispatch.h"
#include "net/web_socket.h"

namespace sorvane::testing {

struct FakeWebSocketFrame {
  bool binary = false;
  std::string payload;
};

class FakeWebSocketClient final : public WebSocketClient {
 public:
  struct Record {
    WebSocketRequest request;
    SerialQueue* eventQueue = nullptr;
    WebSocketEvents events;
    std::vector<FakeWebSocketFrame> frames;
    bool closedByOwner = false;
    int closeCode = 0;
    bool destroyed = false;
  };

  std::unique_ptr<WebSocketConnection> connect(WebSocketRequest request, SerialQueue& eventQueue,
                                               WebSocketEvents events) override {
    auto record = std::make_shared<Record>();
    record->request = std::move(request);
    record->eventQueue = &eventQueue;
    record->events = std::move(events);
    records_.push_back(record);
    return std::make_unique<Connection>(record);
  }

  std::size_t connectionCount() const { return records_.size(); }
  Record& last() { return *records_.back(); }

  // Server side of the last connection.
  void open() {
    post([](WebSocketEvents& e) {
      if (e.onOpen) e.onOpen();
    });
  }
  void receiveText(std::string text) {
    post([text = std::move(text)](WebSocketEvents& e) {
      if (e.onText) e.onText(text);
    });
  }
  void receiveBinary(std::string bytes) {
    post([bytes = std::move(bytes)](WebSocketEvents& e) {
      if (e.onBinary) e.onBinary(bytes);
    });
  }
  void fail(std::string description, std::size_t dropped = 0) {
    post([failure = WebSocketFailure{std::move(description), dropped}](WebSocketEvents& e) {
      if (e.onFailure) e.onFailure(failure);
    });
  }
  void closeByPeer(int code) {
    post([code](WebSocketEvents& e) {
      if (e.onClose) e.onClose(code, "");
    });
  }

 private:
  class Connection final : public WebSocketConnection {
   public:
    explicit Connection(std::shared_ptr<Record> record) : record_(std::move(record)) {}
    ~Connection() override { record_->destroyed = true; }
    void sendText(std::string text) override {
      if (!record_->closedByOwner) record_->frames.push_back({false, std::move(text)});
    }
    void sendBinary(std::string bytes) override {
      if (!record_->closedByOwner) record_->frames.push_back({true, std::move(bytes)});
    }
    void close(int code, std::string) override {
      record_->closedByOwner = true;
      record_->closeCode = code;
    }

   private:
    std::shared_ptr<Record> record_;
  };

  template <typename F>
  void post(F f) {
    auto record = records_.back();
    record->eventQueue->post([record, f = std::move(f)]() mutable {
      if (!record->closedByOwner && !record->destroyed) f(record->events);
    });
  }

  std::vector<std::shared_ptr<Record>> records_;
};

}  // namespace sorvane::testing
