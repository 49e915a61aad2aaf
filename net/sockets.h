#pragma once
// The small socket layer the endpoints use: IPv4 TCP over POSIX sockets.
// Every call that can wait has a bound or can be woken, and no send can
// raise SIGPIPE.

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

using Socket = int;
constexpr Socket INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;

// Program-level start and stop of the socket layer, one stop per start.
// Linux needs nothing here beyond making sure SIGPIPE cannot end the process.
bool SocketLayerStartup();
void SocketLayerShutdown();

Socket CreateTcpSocket();
// Binds to every local address on the port (0 picks a free one).
bool BindAnyAddress(Socket s, uint16_t port);
bool ListenOn(Socket s, int backlog);
uint16_t LocalPort(Socket s);
// One end of an IPv4 connection; all zero when it cannot be told.
struct SocketAddress {
  uint32_t address = 0;  // in network byte order
  uint16_t port = 0;
  bool operator==(const SocketAddress&) const = default;
};
SocketAddress LocalAddress(Socket s);
SocketAddress PeerAddress(Socket s);
// The dotted form of an address in network byte order.
std::string DottedAddress(uint32_t address);
// INVALID_SOCKET when nothing could be accepted. `address` is the peer's
// IPv4 address in host order.
Socket AcceptConnection(Socket listening, uint32_t& address);
// 127.0.0.0/8: this machine itself.
bool IsLoopback(uint32_t address);
// Dotted-decimal address, no name lookup; gives up after `timeout`.
bool ConnectTo(Socket s, const char* address, uint16_t port, std::chrono::milliseconds timeout);
// One message is one small send: switch off Nagle's delay on chat sockets.
void SetNoDelay(Socket s);

// Waits until one of the descriptors is readable (or has hung up), or the
// timeout passes (negative: no limit). Retries EINTR. Returns poll's result.
int WaitReadable(pollfd* fds, size_t count, int timeoutMs);
// The same for whatever events each entry asks for (reading, writing or both).
int WaitForEvents(pollfd* fds, size_t count, int timeoutMs);
// One receive without waiting: the byte count, 0 for an orderly close, or
// SOCKET_ERROR (with errno EAGAIN when nothing was there after all).
long ReceiveSome(Socket s, void* buffer, size_t capacity);
// Sends every byte or fails: partial sends are completed, EINTR retried, and
// a peer that takes nothing for `timeout` is given up on. `written` tells how
// much left before a failure, so a caller can tell a cut stream from an intact one.
bool SendAll(Socket s, const void* bytes, size_t n, std::chrono::milliseconds timeout, size_t& written);
// One send without waiting: the bytes the socket took (0 when it is full), or
// SOCKET_ERROR when the connection failed.
long SendSome(Socket s, const void* bytes, size_t n);
// Wakes any thread waiting on the socket in this process, without releasing
// the descriptor (so its number cannot be reused under that thread).
void ShutdownSocket(Socket s);
// Makes the coming close a reset: what the peer has not taken is thrown away
// at once instead of being offered to it for minutes.
void ResetOnClose(Socket s);
void CloseSocket(Socket s);
// The calling thread's last socket error code.
int LastSocketError();

// Owns one descriptor: closes it when destroyed, moves, and can let it go on
// purpose (Release) when another owner takes over.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(Socket s) : fd(s) {}
  ~UniqueSocket() { CloseSocket(fd); }
  UniqueSocket(UniqueSocket&& other) noexcept : fd(other.Release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;

  Socket Get() const { return fd; }
  bool Valid() const { return fd != INVALID_SOCKET; }
  Socket Release() {
    const Socket s = fd;
    fd = INVALID_SOCKET;
    return s;
  }
  void Reset(Socket s = INVALID_SOCKET) {
    CloseSocket(fd);
    fd = s;
  }

 private:
  Socket fd = INVALID_SOCKET;
};

// An eventfd that a thread can add to its wait set so another can wake it.
class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;
  void Signal();
  void Drain();
  int Fd() const { return fd; }

 private:
  int fd;
};
