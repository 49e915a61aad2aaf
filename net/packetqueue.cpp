#include "net/packetqueue.h"

void CPacketQueue::Push(const void* bytes, uint16_t n, Socket source, const std::string& sourceName,
                        uint64_t sourceSerial) {
  if (bytes == nullptr) return;
  // The copy is made before the lock, which guards only the list.
  auto packet = std::make_unique<CQueuedPacket>();
  if (!packet->SetData(bytes, n)) return;
  packet->source = source;
  packet->sourceName = sourceName;
  packet->sourceSerial = sourceSerial;
  Lock();
  packets.push_back(std::move(packet));
  ++count;
  Unlock();
}

std::unique_ptr<CQueuedPacket> CPacketQueue::Pop() {
  Lock();
  if (packets.empty()) {
    Unlock();
    return nullptr;
  }
  std::unique_ptr<CQueuedPacket> front = std::move(packets.front());
  packets.pop_front();
  --count;
  Unlock();
  return front;
}

void CPacketQueue::Clear() {
  Lock();
  packets.clear();
  count = 0;
  Unlock();
}
