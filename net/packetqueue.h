#pragma once
// First-in first-out queue of received chat payloads, from an endpoint's
// socket thread to the chat layer: a client's poll loop, or the server's own
// socket thread once the wake-up's reads are done. Each waits at its real length: a
// short line takes tens of bytes, not a whole packet.

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "net/sockets.h"
#include "net/thread.h"
#include "protocol/headers.h"
#include "protocol/packet.h"

// A queued payload remembers the connection it came from, so that the server
// can tell whether a chat line's stated nickname is really the sender's.
class CQueuedPacket : public CPacket {
 public:
  Socket source = INVALID_SOCKET;
  // The sender's nickname when the payload was queued: the socket alone could
  // be forgotten, or even reused, before the payload is handled.
  std::string sourceName;
  // Which connection on that socket: descriptor numbers are reused at once.
  uint64_t sourceSerial = 0;
  // HEADER_CHAT: a chat payload, without its transport header. HEADER_RESERVED:
  // one of our own blocks, whole.
  uint16_t transport = HEADER_CHAT;
};

class CPacketQueue : public CMonitor {
 public:
  CPacketQueue() = default;
  ~CPacketQueue() override { Clear(); }

  // Queues a copy of n bytes (n == 0: a NUL-terminated string with its NUL).
  // Null bytes and more than a packet holds are refused.
  void Push(const void* bytes, uint16_t n, Socket source = INVALID_SOCKET, const std::string& sourceName = {},
            uint64_t sourceSerial = 0);
  // One of our own blocks, whole, for the chat layer: a client's from its
  // host, or a server's from the identified connection `source`.
  void PushExtension(const void* bytes, uint16_t n, Socket source = INVALID_SOCKET, const std::string& sourceName = {},
                     uint64_t sourceSerial = 0);
  // The oldest packet, now the caller's; null when the queue is empty.
  std::unique_ptr<CQueuedPacket> Pop();
  // Read without the lock: only the popping thread relies on it staying non-zero.
  uint32_t GetCount() const { return count.load(); }
  void Clear();
  // Readable once a packet arrives in an empty queue: whoever pops waits on
  // it, having found the queue empty, instead of looking again and again.
  WakeEvent& Ready() { return ready; }

 private:
  struct Waiting {
    std::vector<uint8_t> bytes;
    Socket source;
    std::string sourceName;
    uint64_t sourceSerial;
    uint16_t transport;
  };
  void Append(const void* bytes, uint16_t n, Waiting packet);
  std::deque<Waiting> packets;
  std::atomic<uint32_t> count{0};
  WakeEvent ready;
};
