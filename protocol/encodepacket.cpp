#include "protocol/encodepacket.h"

#include <cstring>

namespace {
bool ValidWidth(uint16_t n) { return n >= 1 && n <= 4; }

void WriteLittleEndian(uint8_t* to, int32_t value, uint16_t n) {
  const uint32_t bits = static_cast<uint32_t>(value);
  for (uint16_t i = 0; i < n; ++i) to[i] = static_cast<uint8_t>(bits >> (8 * i));
}
}  // namespace

CEncodePacket::CEncodePacket() { Reset(); }

void CEncodePacket::Reset() {
  std::memset(data, 0, sizeof data);
  length = 0;
}

bool CEncodePacket::SetBuffer(const void* bytes, uint16_t n) {
  if (n > PACKET_CAPACITY || (bytes == nullptr && n != 0)) return false;
  if (n != 0) std::memcpy(data, bytes, n);
  length = n;
  return true;
}

bool CEncodePacket::AddValue(int32_t value, uint16_t n) {
  if (!ValidWidth(n) || length + n > PACKET_CAPACITY) return false;
  WriteLittleEndian(data + length, value, n);
  length = static_cast<uint16_t>(length + n);
  return true;
}

bool CEncodePacket::AddString(const void* bytes, uint16_t n) {
  if (bytes == nullptr) return false;
  size_t count = n;
  if (count == 0) {
    count = TerminatedLength(bytes, PACKET_CAPACITY);
    if (count > PACKET_CAPACITY) return false;
  }
  if (length + count > PACKET_CAPACITY) return false;
  std::memcpy(data + length, bytes, count);
  length = static_cast<uint16_t>(length + count);
  return true;
}

bool CEncodePacket::PrependValue(int32_t value, uint16_t n) {
  if (!ValidWidth(n) || length + n > PACKET_CAPACITY) return false;
  std::memmove(data + n, data, length);
  WriteLittleEndian(data, value, n);
  length = static_cast<uint16_t>(length + n);
  return true;
}

void CEncodePacket::GetPacket(CPacket& packet) const {
  packet.length = length;
  std::memcpy(packet.data, data, length);
}
