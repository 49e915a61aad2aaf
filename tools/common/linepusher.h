#pragma once
// A stand-in chat server that pushes short chat lines at the one client that
// joins it, as fast as the connection takes them, and notes what that client
// sends back: the flood any machine that announces a chat can aim at whoever
// joins it. Its own memory stays flat whatever the count: lines are made as
// the socket takes them.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LinePusher {
 public:
  using Clock = std::chrono::steady_clock;
  // Every pushed line, "push says 0000042" in the default style, is this long.
  static constexpr size_t LINE_BYTES = 39;

  // Listens on 127.0.0.1:`port` (0: a free one) for one client and pushes it
  // `lines` lines from the moment it has joined in plain text.
  explicit LinePusher(size_t lines, uint16_t port = 0);
  ~LinePusher();
  LinePusher(const LinePusher&) = delete;
  LinePusher& operator=(const LinePusher&) = delete;

  // 0 when it could not listen.
  uint16_t Port() const { return port; }
  // The client sent its welcome.
  bool Joined() const { return joined.load(); }
  // Lines the connection has taken whole so far.
  size_t Pushed() const { return pushed.load(); }
  // The client said goodbye (its departure), and then closed.
  bool Departed() const { return departed.load(); }
  bool Closed() const { return closed.load(); }

  struct Heard {
    std::string text;
    Clock::time_point at;
  };
  // The texts of the chat lines the client sent, in order.
  std::vector<Heard> HeardLines() const;

 private:
  void Run(int listener);
  // The client's connection in plain text, or -1 once woken to stop.
  int AcceptPlain(int listener);
  // Reads what the client sent; false once it has closed.
  bool Receive(int fd);

  const size_t lines;
  uint16_t port = 0;
  int wakeFd = -1;
  std::atomic<bool> joined{false}, departed{false}, closed{false};
  std::atomic<size_t> pushed{0};
  std::vector<uint8_t> incoming;
  mutable std::mutex mutex;
  std::vector<Heard> heard;
  std::thread thread;
};
