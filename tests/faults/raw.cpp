#include "raw.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <thread>

#include "common/web_peer.h"
#include "web/websocketsession.h"

namespace {
// Notes every connection that finished connecting, waiting at most waitMs.
void CheckCompletions(std::vector<Raw>& conns, int waitMs) {
  std::vector<pollfd> waiting;
  for (auto& r : conns) {
    if (r.peer.Valid() && !r.connected) waiting.push_back({r.peer.Fd(), POLLOUT, 0});
  }
  if (waiting.empty()) {
    if (waitMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return;
  }
  poll(waiting.data(), waiting.size(), waitMs);
  const auto now = Clock::now();
  for (const auto& p : waiting) {
    if (p.revents == 0) continue;
    for (auto& r : conns) {
      if (r.peer.Fd() != p.fd) continue;
      int error = 0;
      socklen_t len = sizeof error;
      getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &len);
      if (error == 0) {
        r.connected = true;
        r.connectedAt = now;
      } else {
        r.peer.Close();
      }
    }
  }
}
}  // namespace

std::vector<Raw> ConnectMany(int n, uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer,
                             std::chrono::milliseconds gap, int maxSegment) {
  std::vector<Raw> conns(static_cast<size_t>(n));
  const DialOptions options{.receiveBuffer = receiveBuffer, .maxSegment = maxSegment, .nonBlocking = true};
  const auto deadline = Clock::now() + timeout;
  for (auto& r : conns) {
    if (&r != &conns.front()) CheckCompletions(conns, static_cast<int>(gap.count()));
    r.peer = RawPeer::Dial(port, options);
    if (r.peer.Valid() && !r.peer.Connecting()) {
      r.connected = true;
      r.connectedAt = Clock::now();
    }
  }
  for (;;) {
    bool pending = false;
    for (const auto& r : conns) pending = pending || (r.peer.Valid() && !r.connected);
    if (!pending || Clock::now() >= deadline) break;
    CheckCompletions(conns, 20);
  }
  return conns;
}

void SendNow(Raw& r, const std::string& bytes) {
  if (r.peer.Valid() && r.connected && !r.closedByServer) {
    send(r.peer.Fd(), bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
}

void Pump(std::vector<Raw>& conns) {
  char buffer[16384];
  for (auto& r : conns) {
    if (!r.peer.Valid() || !r.connected || r.closedByServer) continue;
    if (!r.reads) {
      // Only asks whether the server has hung up, without taking any data.
      pollfd p{r.peer.Fd(), POLLRDHUP, 0};
      if (poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR))) {
        r.closedByServer = true;
        r.closedAt = Clock::now();
      }
      continue;
    }
    for (;;) {
      const ssize_t n = recv(r.peer.Fd(), buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        r.bytesIn += static_cast<size_t>(n);
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
        r.closedByServer = true;
        r.closedAt = Clock::now();
      }
      break;
    }
  }
}

void CloseRaw(Raw& r) { r.peer.Close(); }

void AbortRaw(Raw& r) { r.peer.Reset(); }

void CloseAll(std::vector<Raw>& conns) {
  for (auto& r : conns) CloseRaw(r);
}

int CountClosedByServer(const std::vector<Raw>& conns) {
  int n = 0;
  for (const auto& r : conns) n += r.closedByServer ? 1 : 0;
  return n;
}

bool Offer(Raw& r, const std::string& message) {
  Flush(r);
  if (!r.outbox.empty() || !r.peer.Valid() || !r.connected || r.closedByServer) return false;
  r.outbox = message;
  Flush(r);
  return true;
}

void Flush(Raw& r) {
  while (!r.outbox.empty() && r.peer.Valid() && r.connected && !r.closedByServer) {
    const ssize_t n = send(r.peer.Fd(), r.outbox.data(), r.outbox.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    r.outbox.erase(0, static_cast<size_t>(n));
  }
}

size_t KernelBytesToward(const Raw& r, uint16_t serverPort) {
  sockaddr_in own{};
  socklen_t len = sizeof own;
  if (!r.peer.Valid() || getsockname(r.peer.Fd(), reinterpret_cast<sockaddr*>(&own), &len) != 0) return 0;
  const unsigned ownPort = ntohs(own.sin_port);
  std::ifstream table("/proc/net/tcp");
  size_t bytes = 0;
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    unsigned local = 0, remote = 0;
    unsigned long tx = 0, rx = 0;
    // "  sl  local_address rem_address   st tx_queue rx_queue ..." with hex fields
    if (std::sscanf(line.c_str(), " %*d: %*8x:%x %*8x:%x %*x %lx:%lx", &local, &remote, &tx, &rx) != 4) continue;
    if (local == serverPort && remote == ownPort) bytes += tx;
    if (local == ownPort && remote == serverPort) bytes += rx;
  }
  return bytes;
}

std::string BrowserUpgrade(uint16_t port) { return UpgradeRequest(port, "http://127.0.0.1:" + std::to_string(port)); }

std::string BrowserFrame(const std::string& message) {
  WebSocketSession browser(PACKET_CAPACITY, WebSocketSession::Side::Visitor);
  std::vector<uint8_t> frame;
  browser.Send(reinterpret_cast<const uint8_t*>(message.data()), message.size(), frame);
  return std::string(frame.begin(), frame.end());
}
