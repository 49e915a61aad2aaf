#include "protocol/decodepacket.h"

#include <cstring>

#include "protocol/diagnostics.h"

CDecodePacket::CDecodePacket() : data{}, cursor(0), length(0), initialized(false) {}

bool CDecodePacket::Initialize(const CPacket& packet) {
  if (packet.length == 0 || packet.length > PACKET_CAPACITY) return false;
  length = packet.length;
  cursor = 0;
  std::memcpy(data, packet.data, length);
  initialized = true;
  return true;
}

bool CDecodePacket::CanRead(const char* operation, uint16_t width) const {
  if (!initialized) {
    Diag("CDecodePacket::%s() - DecodePacket non initialized\n", operation);
    return false;
  }
  if (cursor >= length) return false;
  return static_cast<size_t>(cursor) + width <= PACKET_CAPACITY;
}

uint32_t CDecodePacket::ReadLittleEndian(uint16_t width) {
  uint32_t value = 0;
  for (uint16_t i = 0; i < width; ++i) value |= static_cast<uint32_t>(data[cursor + i]) << (8 * i);
  cursor = static_cast<uint16_t>(cursor + width);
  return value;
}

bool CDecodePacket::GetCharValue(uint8_t& value) {
  if (!CanRead("GetCharValue", 1)) return false;
  value = static_cast<uint8_t>(ReadLittleEndian(1));
  return true;
}

bool CDecodePacket::GetShortValue(uint16_t& value) {
  if (!CanRead("GetShortValue", 2)) return false;
  value = static_cast<uint16_t>(ReadLittleEndian(2));
  return true;
}

bool CDecodePacket::GetLongValue(uint32_t& value) {
  if (!CanRead("GetLongValue", 4)) return false;
  value = ReadLittleEndian(4);
  return true;
}

bool CDecodePacket::GetString(void* buffer, uint16_t n) {
  if (!initialized) {
    Diag("CDecodePacket::GetString() - DecodePacket non initialized\n");
    return false;
  }
  if (buffer == nullptr) return false;
  if (!CanRead("GetString", n)) return false;
  if (n != 0) std::memcpy(buffer, data + cursor, n);
  cursor = static_cast<uint16_t>(cursor + n);
  return true;
}
