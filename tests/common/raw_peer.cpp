#include "raw_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "common/wire.h"
#include "protocol/extent.h"
#include "protocol/messages.h"

namespace {
using Clock = std::chrono::steady_clock;

sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

int MsUntil(Clock::time_point until) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool Readable(int fd, Clock::time_point until) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, MsUntil(until)) > 0;
}

Bytes Take(Bytes& from, size_t n) {
  Bytes out(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n));
  from.erase(from.begin(), from.begin() + static_cast<std::ptrdiff_t>(n));
  return out;
}
}  // namespace

RawPeer::~RawPeer() { Close(); }

RawPeer::RawPeer(RawPeer&& other) noexcept
    : fd_(other.fd_), connecting_(other.connecting_), closed_(other.closed_), pending_(std::move(other.pending_)) {
  other.fd_ = -1;
}

RawPeer& RawPeer::operator=(RawPeer&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    connecting_ = other.connecting_;
    closed_ = other.closed_;
    pending_ = std::move(other.pending_);
    other.fd_ = -1;
  }
  return *this;
}

RawPeer RawPeer::Dial(uint16_t port, const DialOptions& options) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (options.nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return RawPeer();
  if (options.receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer, sizeof options.receiveBuffer);
  }
  if (options.maxSegment > 0) setsockopt(fd, IPPROTO_TCP, TCP_MAXSEG, &options.maxSegment, sizeof options.maxSegment);
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (options.from != nullptr) {
    sockaddr_in local = LoopbackAddress(0);
    inet_pton(AF_INET, options.from, &local.sin_addr);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
      close(fd);
      return RawPeer();
    }
  }
  const sockaddr_in addr = LoopbackAddress(port);
  RawPeer peer(fd);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (!options.nonBlocking || errno != EINPROGRESS) return RawPeer();
    peer.connecting_ = true;
  }
  return peer;
}

bool RawPeer::Join(uint16_t port, const std::string& nickname) {
  *this = Dial(port);
  return Valid() && Send(Welcome(nickname));
}

bool RawPeer::Send(const void* bytes, size_t n) {
  const auto* from = static_cast<const uint8_t*>(bytes);
  size_t sent = 0;
  while (sent < n) {
    const ssize_t k = send(fd_, from + sent, n - sent, MSG_NOSIGNAL);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    sent += static_cast<size_t>(k);
  }
  return true;
}

bool RawPeer::Fill(Clock::time_point until) {
  if (closed_ || !Readable(fd_, until)) return false;
  uint8_t chunk[4096];
  const ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
  if (n <= 0) {
    closed_ = true;
    return false;
  }
  pending_.insert(pending_.end(), chunk, chunk + n);
  return true;
}

Bytes RawPeer::NextMessage(std::chrono::milliseconds deadline, bool toServer) {
  const auto until = Clock::now() + deadline;
  for (;;) {
    if (!pending_.empty()) {
      const MessageExtent e = FirstMessageExtent(pending_.data(), pending_.size(), toServer);
      if (e.kind == ExtentKind::Complete) return Take(pending_, e.length);
      if (e.kind != ExtentKind::Incomplete) return Take(pending_, pending_.size());
    }
    if (!Fill(until)) return {};
  }
}

Bytes RawPeer::Read(size_t n, std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  while (pending_.size() < n && Fill(until)) {
  }
  return Take(pending_, std::min(n, pending_.size()));
}

Bytes RawPeer::ReadSome(std::chrono::milliseconds deadline) {
  if (pending_.empty()) Fill(Clock::now() + deadline);
  return Take(pending_, pending_.size());
}

bool RawPeer::WaitClosed(std::chrono::milliseconds deadline) {
  const auto until = Clock::now() + deadline;
  // What arrives before the close is of no interest: dropping it keeps a
  // flooded peer's memory flat.
  while (!closed_ && Fill(until)) pending_.clear();
  return closed_;
}

bool RawPeer::HasData() { return !pending_.empty() || Readable(fd_, Clock::now()); }

void RawPeer::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void RawPeer::Reset() {
  if (fd_ < 0) return;
  const linger abort{1, 0};
  setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Close();
}

RawListener::RawListener(int backlog) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  sockaddr_in addr = LoopbackAddress(0);
  socklen_t len = sizeof addr;
  if (bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
      (backlog < 0 || listen(fd_, backlog) == 0) && getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port_ = ntohs(addr.sin_port);
  }
}

RawListener::~RawListener() {
  if (fd_ >= 0) close(fd_);
}

RawPeer RawListener::Accept(std::chrono::milliseconds deadline) {
  if (!Readable(fd_, Clock::now() + deadline)) return RawPeer();
  return RawPeer(accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
}

RawPeer RawListener::AcceptPlain(std::chrono::milliseconds deadline) {
  // A TLS client tries twice before it speaks plain text.
  for (int tries = 0; tries < 2; ++tries) {
    RawPeer tls = Accept(deadline);
    if (tls.Read(1, deadline) != Bytes{0x16}) return RawPeer();
    tls.Close();
  }
  return Accept(deadline);
}
