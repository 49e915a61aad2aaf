#pragma once
// A browser as the host sees one, driven by hand: a loopback peer that sends
// an HTTP request (the WebSocket upgrade, or anything else), then the chat's
// messages one per masked binary frame, and reads the host's frames back as
// whole messages.

#include <chrono>
#include <cstdint>
#include <deque>
#include <string>

#include "common/raw_peer.h"
#include "web/websocketsession.h"

class WebPeer {
 public:
  // Connects, sends `request` as it is and reads the response; its status
  // line, empty when none came.
  std::string Request(uint16_t port, const std::string& request);
  // Sends more requests as they are on the same connection.
  bool Send(const std::string& requests) { return peer.Send(requests.data(), requests.size()); }
  // The next response on the connection, its head and its body (as long as
  // its Content-Length says); empty when none came.
  std::string NextResponse();
  // Asks for the upgrade from the host's own page (or the given Origin); the
  // status line of the answer.
  std::string Upgrade(uint16_t port, const std::string& origin = "");
  // Upgrades and identifies as `nickname`.
  bool Join(uint16_t port, const std::string& nickname);

  bool Send(const CPacket& p) { return Send(Bytes(p.data, p.data + p.length)); }
  bool Send(const Bytes& message);
  // The next whole message from the host; empty on deadline or close (the
  // connection's or the WebSocket's).
  Bytes NextMessage(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  // The status of the host's WebSocket close, read past any messages before
  // it; 1006 ("abnormal") when the connection ends without one.
  uint16_t CloseCode(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  RawPeer& Raw() { return peer; }

 private:
  RawPeer peer;
  WebSocketSession session{64 * 1024, WebSocketSession::Side::Visitor};
  std::deque<Bytes> messages;
};

// The upgrade request a page at 127.0.0.1:port sends, with the given Origin
// (none when empty) and any further header lines.
std::string UpgradeRequest(uint16_t port, const std::string& origin, const std::string& extraHeaders = "");
