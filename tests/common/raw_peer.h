#pragma once
// Plain loopback sockets that the tests drive by hand: hostile, slow or
// scripted peers of an endpoint under test, or a stand-in server for one.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/packet.h"

using Bytes = std::vector<uint8_t>;

// What a peer sets on its socket before connecting.
struct DialOptions {
  int receiveBuffer = 0;  // SO_RCVBUF when > 0
  int maxSegment = 0;     // TCP_MAXSEG when > 0
  // Returns as soon as the connection is under way, and the socket never
  // blocks: for many peers driven from one thread.
  bool nonBlocking = false;
  // Another loopback address to come from (127.0.0.2): a second machine.
  const char* from = nullptr;
};

class RawPeer {
 public:
  RawPeer() = default;
  explicit RawPeer(int fd) : fd_(fd) {}
  ~RawPeer();
  RawPeer(RawPeer&& other) noexcept;
  RawPeer& operator=(RawPeer&& other) noexcept;

  // Connects to 127.0.0.1:port; not Valid when refused.
  static RawPeer Dial(uint16_t port, const DialOptions& options = {});
  // Connects and identifies as `nickname` with a client welcome.
  bool Join(uint16_t port, const std::string& nickname);

  // Sends every byte (a non-blocking peer: what the socket takes now).
  bool Send(const void* bytes, size_t n);
  bool Send(const Bytes& bytes) { return Send(bytes.data(), bytes.size()); }
  bool Send(const CPacket& p) { return Send(p.data, p.length); }
  // The next whole message, cut as the given receiving role cuts it (a
  // malformed rest comes back whole); empty on deadline or close.
  Bytes NextMessage(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000), bool toServer = false);
  // Exactly n bytes from the stream; fewer when the deadline passes first.
  Bytes Read(size_t n, std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  // Whatever has arrived, waiting for something until the deadline.
  Bytes ReadSome(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  // True once the other side closes (end of stream or reset) within the deadline.
  bool WaitClosed(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  // Bytes waiting in the socket or already buffered here.
  bool HasData();
  // Orderly close.
  void Close();
  // Abortive close: the other side sees a reset, not an orderly end.
  void Reset();

  bool Valid() const { return fd_ >= 0; }
  // A non-blocking Dial whose connection was not yet established on return.
  bool Connecting() const { return connecting_; }
  int Fd() const { return fd_; }

 private:
  bool Fill(std::chrono::steady_clock::time_point until);
  int fd_ = -1;
  bool connecting_ = false;
  bool closed_ = false;
  Bytes pending_;
};

class RawListener {
 public:
  // A negative backlog binds without listening: connections are refused.
  explicit RawListener(int backlog = 5);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;
  uint16_t Port() const { return port_; }
  // Not Valid when nobody connects within the deadline.
  RawPeer Accept(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));
  // Accepts as a server that speaks only the plain protocol: the connections
  // that begin with a TLS handshake (a client's two tries) are closed, and
  // the next one, in plain text, is taken.
  RawPeer AcceptPlain(std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

 private:
  int fd_;
  uint16_t port_ = 0;
};
