#include "net/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {
using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

bool WaitFor(Socket s, short events, Clock::time_point deadline) {
  pollfd p{s, events, 0};
  for (;;) {
    const int r = poll(&p, 1, RemainingMs(deadline));
    if (r > 0) return true;
    if (r == 0) {
      errno = ETIMEDOUT;
      return false;
    }
    if (errno != EINTR) return false;
  }
}

SocketAddress AddressOf(const sockaddr_in& addr) { return {addr.sin_addr.s_addr, ntohs(addr.sin_port)}; }
}  // namespace

bool SocketLayerStartup() {
  // Sends use MSG_NOSIGNAL; ignoring SIGPIPE also covers any other writer.
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

void SocketLayerShutdown() {}

Socket CreateTcpSocket() { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP); }

bool BindAnyAddress(Socket s, uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  return bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

bool ListenOn(Socket s, int backlog) {
  // Every wake-up accepts until nothing waits: accept must never block.
  const int flags = fcntl(s, F_GETFL);
  return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0 && listen(s, backlog) == 0;
}

uint16_t LocalPort(Socket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
  return ntohs(addr.sin_port);
}

SocketAddress LocalAddress(Socket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return {};
  return AddressOf(addr);
}

SocketAddress PeerAddress(Socket s) {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (getpeername(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0 || addr.sin_family != AF_INET) return {};
  return AddressOf(addr);
}

std::string DottedAddress(uint32_t address) {
  in_addr in{};
  in.s_addr = address;
  char text[INET_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET, &in, text, sizeof text) == nullptr) return {};
  return text;
}

Socket AcceptConnection(Socket listening, uint32_t& address) {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    const Socket s = accept4(listening, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    address = peer.sin_family == AF_INET ? ntohl(peer.sin_addr.s_addr) : 0;
    if (s >= 0 || errno != EINTR) return s;
  }
}

bool IsLoopback(uint32_t address) { return (address >> 24) == 127; }

bool ConnectTo(Socket s, const char* address, uint16_t port, std::chrono::milliseconds timeout) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (address == nullptr || inet_aton(address, &addr.sin_addr) == 0) {
    errno = EINVAL;
    return false;
  }
  const int flags = fcntl(s, F_GETFL);
  fcntl(s, F_SETFL, flags | O_NONBLOCK);
  const auto deadline = Clock::now() + timeout;
  bool connected = connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR) && WaitFor(s, POLLOUT, deadline)) {
    int error = 0;
    socklen_t len = sizeof error;
    connected = getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0;
    if (!connected) errno = error;
  }
  return connected;
}

void SetNoDelay(Socket s) {
  const int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int WaitReadable(pollfd* fds, size_t count, int timeoutMs) {
  for (size_t i = 0; i < count; ++i) fds[i].events = POLLIN;
  return WaitForEvents(fds, count, timeoutMs);
}

int WaitForEvents(pollfd* fds, size_t count, int timeoutMs) {
  for (;;) {
    const int r = poll(fds, count, timeoutMs);
    if (r >= 0 || errno != EINTR) return r;
  }
}

long ReceiveSome(Socket s, void* buffer, size_t capacity) {
  for (;;) {
    const ssize_t r = recv(s, buffer, capacity, MSG_DONTWAIT);
    if (r >= 0 || errno != EINTR) return static_cast<long>(r);
  }
}

long SendSome(Socket s, const void* bytes, size_t n) {
  for (;;) {
    const ssize_t sent = send(s, bytes, n, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) return static_cast<long>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) return SOCKET_ERROR;
  }
}

bool SendAll(Socket s, const void* bytes, size_t n, std::chrono::milliseconds timeout, size_t& written) {
  const auto deadline = Clock::now() + timeout;
  const char* at = static_cast<const char*>(bytes);
  written = 0;
  while (written < n) {
    const long sent = SendSome(s, at + written, n - written);
    if (sent < 0) return false;
    written += static_cast<size_t>(sent);
    if (written < n && sent == 0 && !WaitFor(s, POLLOUT, deadline)) return false;
  }
  return true;
}

void ShutdownSocket(Socket s) {
  if (s != INVALID_SOCKET) shutdown(s, SHUT_RDWR);
}

void ResetOnClose(Socket s) {
  const linger now{1, 0};
  if (s != INVALID_SOCKET) setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
}

void CloseSocket(Socket s) {
  if (s != INVALID_SOCKET) close(s);
}

int LastSocketError() { return errno; }

WakeEvent::WakeEvent() : fd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeEvent::~WakeEvent() {
  if (fd >= 0) close(fd);
}

void WakeEvent::Signal() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t r = write(fd, &one, sizeof one);
}

void WakeEvent::Drain() {
  uint64_t value = 0;
  [[maybe_unused]] const ssize_t r = read(fd, &value, sizeof value);
}
