#pragma once
// Plain loopback sockets that the tests drive by hand: hostile, slow or
// scripted peers of a CTCPIP endpoint.

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/packet.h"

using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

class RawPeer {
 public:
  explicit RawPeer(int fd) : fd_(fd) {}
  ~RawPeer();
  RawPeer(const RawPeer&) = delete;
  RawPeer& operator=(const RawPeer&) = delete;

  // Connects to 127.0.0.1:port; a receive buffer > 0 is set before connecting.
  static std::unique_ptr<RawPeer> Dial(uint16_t port, int receiveBuffer = 0);

  bool Send(const void* bytes, size_t n);
  bool Send(const CPacket& p) { return Send(p.data, p.length); }
  // The next whole message, cut as the given receiving role cuts it; empty on
  // deadline or close.
  Bytes NextMessage(milliseconds deadline = milliseconds(5000), bool toServer = false);
  // True once the other side closes (end of stream or reset); data is discarded.
  bool WaitClosed(milliseconds deadline = milliseconds(5000));
  // Bytes waiting in the socket or already buffered here.
  bool HasData();
  // Abortive close: the other side sees a reset, not an orderly end.
  void Reset();
  int Fd() const { return fd_; }

 private:
  int fd_;
  Bytes buffered_;
};

class RawListener {
 public:
  // A negative backlog binds without listening: connections are refused.
  explicit RawListener(int backlog = 5);
  ~RawListener();
  RawListener(const RawListener&) = delete;
  RawListener& operator=(const RawListener&) = delete;
  uint16_t Port() const { return port_; }
  std::unique_ptr<RawPeer> Accept(milliseconds deadline = milliseconds(5000));

 private:
  int fd_;
  uint16_t port_ = 0;
};
