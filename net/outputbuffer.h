#pragma once
// The bytes sealed for one connection that its socket has not taken yet, in
// order, each stretch remembering whose messages it carries so that a sender
// whose relays pile up can be held back.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "net/sockets.h"

class OutputBuffer {
 public:
  // One message a stretch carries: relayed on behalf of the connection
  // `origin` (0: the server's own notice, nobody's to answer for), `length`
  // bytes of the chat's before sealing.
  struct Mark {
    uint64_t origin;
    size_t length;
  };

  // Sealed bytes carrying `count` messages (none: bytes of the stream's own,
  // such as a handshake's). The messages have left once the last of these
  // bytes has.
  void Append(const uint8_t* bytes, size_t n, const Mark* marks, size_t count);
  // The same for bytes that `seal(out)` appends to `out` itself, sparing a
  // copy; nothing is appended when it fails.
  template <typename Seal>
  bool AppendSealed(const Mark* marks, size_t count, Seal seal);

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
    uint64_t end;  // where its bytes end, counted over every byte ever appended
  };
  std::vector<uint8_t> bytes;
  size_t start = 0;         // bytes before it have been taken
  uint64_t takenTotal = 0;  // every byte the socket ever took
  std::deque<Message> messages;
};

template <typename Seal>
bool OutputBuffer::AppendSealed(const Mark* marks, size_t count, Seal seal) {
  const size_t before = bytes.size();
  if (!seal(bytes)) {
    bytes.resize(before);
    return false;
  }
  const uint64_t end = takenTotal + Size();
  for (size_t i = 0; i < count; ++i) messages.push_back({marks[i].origin, marks[i].length, end});
  return true;
}

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
