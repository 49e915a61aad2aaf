#pragma once
// A bench client's connection as a browser makes it: the WebSocket upgrade
// on the chat's port, then every message one masked binary frame. What the
// host sends is handed, message by message, to the client's own endpoint as
// its socket thread would hand it, so the endpoint's queue and poll loop
// run exactly as for a native client.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/packet.h"
#include "web/websocketsession.h"

class WebLink {
 public:
  using Message = std::function<void(const uint8_t* bytes, size_t n)>;

  WebLink() = default;
  ~WebLink() { Close(); }
  WebLink(const WebLink&) = delete;
  WebLink& operator=(const WebLink&) = delete;

  // Connects to 127.0.0.1:port, upgrades and sends `welcome`; from then on
  // each message from the host goes to `message`, on the link's own thread.
  bool Open(uint16_t port, const CPacket& welcome, Message message);
  // One message, from any thread; false once the connection has failed.
  bool Send(const CPacket& packet);
  bool Connected() const { return connected.load(); }
  void Close();

 private:
  bool SendFramed(const std::vector<uint8_t>& frame);
  void Read(Message message);

  int fd = -1;
  std::mutex mutex;  // the session, and each frame's send whole
  WebSocketSession session{64 * 1024, WebSocketSession::Side::Visitor};
  std::atomic<bool> connected{false};
  std::thread reader;
};
