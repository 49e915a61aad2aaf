#pragma once
// The bytes a server has accepted for one connection but the connection's
// socket has not taken yet: whole messages, in order, each remembering whose
// line it relays so that a sender whose relays pile up can be held back.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "net/sockets.h"

class OutputBuffer {
 public:
  // One whole message, relayed on behalf of the connection `origin`
  // (0: the server's own notice, nobody's to answer for).
  void Append(const uint8_t* bytes, size_t n, uint64_t origin);

  // Hands the socket what it takes now, without waiting; `left(origin, n)`
  // hears of every message that has now left whole. The byte count the
  // socket took, or SOCKET_ERROR when the connection failed.
  template <typename Left>
  long Write(Socket s, Left left);

  // Every message not yet wholly gone, for a connection being dropped.
  template <typename Held>
  void ForEachHeld(Held held) const {
    for (const Message& m : messages) held(m.origin, m.length);
  }

  size_t Size() const { return bytes.size() - start; }
  bool Empty() const { return Size() == 0; }

 private:
  struct Message {
    uint64_t origin;
    size_t length;
    uint64_t end;  // where it ends, counted over every byte ever appended
  };
  std::vector<uint8_t> bytes;
  size_t start = 0;         // bytes before it have been taken
  uint64_t takenTotal = 0;  // every byte the socket ever took
  std::deque<Message> messages;
};

template <typename Left>
long OutputBuffer::Write(Socket s, Left left) {
  long total = 0;
  while (!Empty()) {
    const long sent = SendSome(s, bytes.data() + start, Size());
    if (sent < 0) return SOCKET_ERROR;
    if (sent == 0) break;
    start += static_cast<size_t>(sent);
    takenTotal += static_cast<uint64_t>(sent);
    total += sent;
  }
  while (!messages.empty() && messages.front().end <= takenTotal) {
    left(messages.front().origin, messages.front().length);
    messages.pop_front();
  }
  // Moving the rest to the front costs a copy of what is left; doing it only
  // once the taken part dominates keeps appending amortised constant.
  if (Empty()) {
    bytes.clear();
    start = 0;
  } else if (start > bytes.size() / 2) {
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(start));
    start = 0;
  }
  return total;
}
