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
  Append(std::move(packet));
}

void CPacketQueue::PushExtension(const void* bytes, uint16_t n) {
  auto packet = std::make_unique<CQueuedPacket>();
  if (bytes == nullptr || !packet->SetData(bytes, n)) return;
  packet->transport = HEADER_RESERVED;
  Append(std::move(packet));
}

void CPacketQueue::Append(std::unique_ptr<CQueuedPacket> packet) {
  CMonitorGuard guard(*this);
  packets.push_back(std::move(packet));
  ++count;
}

std::unique_ptr<CQueuedPacket> CPacketQueue::Pop() {
  CMonitorGuard guard(*this);
  if (packets.empty()) return nullptr;
  std::unique_ptr<CQueuedPacket> front = std::move(packets.front());
  packets.pop_front();
  --count;
  return front;
}

void CPacketQueue::Clear() {
  CMonitorGuard guard(*this);
  packets.clear();
  count = 0;
}
