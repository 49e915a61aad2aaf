#include "common/web_peer.h"

#include "common/wire.h"

std::string UpgradeRequest(uint16_t port, const std::string& origin, const std::string& extraHeaders) {
  std::string r = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                  "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
  if (!origin.empty()) r += "Origin: " + origin + "\r\n";
  return r + extraHeaders + "\r\n";
}

std::string WebPeer::Request(uint16_t port, const std::string& request) {
  peer = RawPeer::Dial(port);
  if (!peer.Valid() || !Send(request)) return {};
  const std::string response = NextResponse();
  return response.substr(0, response.find("\r\n"));
}

std::string WebPeer::NextResponse() {
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    const Bytes b = peer.Read(1);
    if (b.empty()) return {};
    head += static_cast<char>(b[0]);
  }
  const size_t length = head.find("\r\nContent-Length: ");
  if (length == std::string::npos) return head;
  const Bytes body = peer.Read(std::stoul(head.substr(length + 18)));
  return head + std::string(body.begin(), body.end());
}

std::string WebPeer::Upgrade(uint16_t port, const std::string& origin) {
  return Request(port, UpgradeRequest(port, origin.empty() ? "http://127.0.0.1:" + std::to_string(port) : origin));
}

bool WebPeer::Join(uint16_t port, const std::string& nickname) {
  return Upgrade(port) == "HTTP/1.1 101 Switching Protocols" && Send(Welcome(nickname));
}

bool WebPeer::Send(const Bytes& message) {
  Bytes frame;
  session.Send(message.data(), message.size(), frame);
  return !frame.empty() && peer.Send(frame);
}

Bytes WebPeer::NextMessage(std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  // The host's close ends the messages, as the connection's end does.
  while (messages.empty() && session.Current() == WebSocketSession::Status::Open) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    const Bytes got = peer.ReadSome(left);
    if (got.empty()) return {};
    Bytes answer;  // a visitor's pongs are of no interest here
    session.Receive(
        got.data(), got.size(), [this](const uint8_t* m, size_t n) { messages.emplace_back(m, m + n); }, answer);
  }
  if (messages.empty()) return {};
  Bytes next = std::move(messages.front());
  messages.pop_front();
  return next;
}

uint16_t WebPeer::CloseCode(std::chrono::milliseconds deadline) {
  while (!NextMessage(deadline).empty()) {
  }
  return session.CloseCodeReceived();
}
