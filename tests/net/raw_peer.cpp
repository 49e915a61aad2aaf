#include "raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "common/test_support.h"
#include "protocol/extent.h"

namespace {
using Clock = std::chrono::steady_clock;

bool Readable(int fd, Clock::time_point end) {
  const auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, left > 0 ? static_cast<int>(left) : 0) > 0;
}
}  // namespace

RawPeer::~RawPeer() {
  if (fd_ >= 0) close(fd_);
}

std::unique_ptr<RawPeer> RawPeer::Dial(uint16_t port, int receiveBuffer) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  const sockaddr_in addr = Loopback(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<RawPeer>(fd);
}

bool RawPeer::Send(const void* bytes, size_t n) {
  return send(fd_, bytes, n, MSG_NOSIGNAL) == static_cast<ssize_t>(n);
}

Bytes RawPeer::NextMessage(milliseconds deadline, bool toServer) {
  const auto end = Clock::now() + deadline;
  for (;;) {
    if (!buffered_.empty()) {
      const MessageExtent e = FirstMessageExtent(buffered_.data(), buffered_.size(), toServer);
      if (e.kind != ExtentKind::Incomplete) {
        const size_t take = e.kind == ExtentKind::Complete ? e.length : buffered_.size();
        Bytes message(buffered_.begin(), buffered_.begin() + static_cast<std::ptrdiff_t>(take));
        buffered_.erase(buffered_.begin(), buffered_.begin() + static_cast<std::ptrdiff_t>(take));
        return message;
      }
    }
    if (!Readable(fd_, end)) return {};
    uint8_t chunk[4096];
    const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return {};
    buffered_.insert(buffered_.end(), chunk, chunk + n);
  }
}

bool RawPeer::WaitClosed(milliseconds deadline) {
  const auto end = Clock::now() + deadline;
  while (Readable(fd_, end)) {
    uint8_t chunk[4096];
    if (recv(fd_, chunk, sizeof chunk, 0) <= 0) return true;
  }
  return false;
}

bool RawPeer::HasData() { return !buffered_.empty() || Readable(fd_, Clock::now()); }

void RawPeer::Reset() {
  const linger abort{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(fd_);
  fd_ = -1;
}

RawListener::RawListener(int backlog) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in addr = Loopback(0);
  socklen_t len = sizeof addr;
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 && (backlog < 0 || listen(fd_, backlog) == 0) &&
      getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port_ = ntohs(addr.sin_port);
  }
}

RawListener::~RawListener() { close(fd_); }

std::unique_ptr<RawPeer> RawListener::Accept(milliseconds deadline) {
  if (!Readable(fd_, Clock::now() + deadline)) return nullptr;
  const int fd = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  return fd < 0 ? nullptr : std::make_unique<RawPeer>(fd);
}
