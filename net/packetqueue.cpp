#include "net/packetqueue.h"

void CPacketQueue::Push(const void* bytes, uint16_t n, Socket source, const std::string& sourceName,
                        uint64_t sourceSerial) {
  Append(bytes, n, {{}, source, sourceName, sourceSerial, HEADER_CHAT});
}

void CPacketQueue::PushExtension(const void* bytes, uint16_t n, Socket source, const std::string& sourceName,
                                 uint64_t sourceSerial) {
  Append(bytes, n, {{}, source, sourceName, sourceSerial, HEADER_RESERVED});
}

void CPacketQueue::Append(const void* bytes, uint16_t n, Waiting packet) {
  if (bytes == nullptr) return;
  const size_t length = n != 0 ? n : TerminatedLength(bytes, PACKET_CAPACITY);
  if (length > PACKET_CAPACITY) return;
  // The copy is made before the lock, which guards only the queue.
  const auto* from = static_cast<const uint8_t*>(bytes);
  packet.bytes.assign(from, from + length);
  bool first = false;
  {
    CMonitorGuard guard(*this);
    packets.push_back(std::move(packet));
    first = count++ == 0;
  }
  if (first) ready.Signal();
}

std::unique_ptr<CQueuedPacket> CPacketQueue::Pop() {
  Waiting front;
  {
    CMonitorGuard guard(*this);
    if (packets.empty()) return nullptr;
    front = std::move(packets.front());
    packets.pop_front();
    --count;
  }
  auto packet = std::make_unique<CQueuedPacket>();
  packet->SetData(front.bytes.data(), static_cast<uint16_t>(front.bytes.size()));
  packet->source = front.source;
  packet->sourceName = std::move(front.sourceName);
  packet->sourceSerial = front.sourceSerial;
  packet->transport = front.transport;
  return packet;
}

void CPacketQueue::Clear() {
  CMonitorGuard guard(*this);
  packets.clear();
  count = 0;
}
