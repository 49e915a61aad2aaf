#include "weblink.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "net/passtiming.h"

namespace {

bool SendAll(int fd, const void* bytes, size_t n) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (n > 0) {
    const ssize_t k = send(fd, p, n, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

}  // namespace

bool WebLink::Open(uint16_t port, const CPacket& welcome, Message message) {
  fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) return false;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const std::string origin = "http://127.0.0.1:" + std::to_string(port);
  const std::string request = "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\nOrigin: " + origin +
                              "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                              "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n";
  if (!SendAll(fd, request.data(), request.size())) return false;
  // The answer's head, a byte at a time: nothing of the first frames is taken.
  std::string head;
  while (head.size() < 4096 && head.find("\r\n\r\n") == std::string::npos) {
    char c;
    if (recv(fd, &c, 1, 0) != 1) return false;
    head += c;
  }
  if (head.rfind("HTTP/1.1 101 ", 0) != 0) return false;
  connected = true;
  if (!Send(welcome)) return false;
  reader = std::thread([this, message = std::move(message)] { Read(message); });
  return true;
}

bool WebLink::Send(const CPacket& packet) {
  std::vector<uint8_t> frame;
  std::lock_guard<std::mutex> guard(mutex);
  session.Send(packet.data, packet.length, frame);
  return SendFramed(frame);
}

bool WebLink::SendFramed(const std::vector<uint8_t>& frame) {
  if (!connected) return false;
  if (!frame.empty() && !SendAll(fd, frame.data(), frame.size())) connected = false;
  return connected;
}

void WebLink::Read(Message message) {
  // As a native client's socket thread: wait for readiness, then take
  // everything waiting, up to its limit.
  uint8_t buffer[RECEIVE_SIZE];
  size_t taken = CLIENT_PASS_READ_LIMIT;
  for (;;) {
    if (taken >= CLIENT_PASS_READ_LIMIT) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, -1) < 0 && errno != EINTR) break;
      if (!connected) break;
      taken = 0;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      taken = CLIENT_PASS_READ_LIMIT;
      continue;
    }
    if (n <= 0) break;
    taken += static_cast<size_t>(n);
    std::vector<std::vector<uint8_t>> whole;
    {
      std::lock_guard<std::mutex> guard(mutex);
      std::vector<uint8_t> answer;
      const auto status = session.Receive(
          buffer, static_cast<size_t>(n), [&whole](const uint8_t* m, size_t k) { whole.emplace_back(m, m + k); },
          answer);
      SendFramed(answer);
      if (status == WebSocketSession::Status::Closing) connected = false;
    }
    for (const auto& m : whole) message(m.data(), m.size());
  }
  connected = false;
}

void WebLink::Close() {
  connected = false;
  // Wakes the reader, which then sees the end of the stream.
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  if (reader.joinable()) reader.join();
  if (fd >= 0) close(fd);
  fd = -1;
}
