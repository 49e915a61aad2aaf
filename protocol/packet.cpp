#include "protocol/packet.h"

#include <algorithm>
#include <cstring>

CPacket::CPacket() : data{}, length(0) {}

// The length is a public field: never trust it past the array.
CPacket::CPacket(const CPacket& other) : data{}, length(std::min(other.length, PACKET_CAPACITY)) {
  std::memcpy(data, other.data, length);
}

CPacket& CPacket::operator=(const CPacket& other) {
  if (this != &other) {
    length = std::min(other.length, PACKET_CAPACITY);
    std::memmove(data, other.data, length);
  }
  return *this;
}

bool CPacket::SetData(const void* bytes, uint16_t n) {
  if (bytes == nullptr) return false;
  size_t count = n;
  if (count == 0) count = TerminatedLength(bytes, PACKET_CAPACITY);
  if (count > PACKET_CAPACITY) return false;
  std::memcpy(data, bytes, count);
  length = static_cast<uint16_t>(count);
  return true;
}

size_t TerminatedLength(const void* text, size_t limit) {
  const void* nul = std::memchr(text, '\0', limit);
  if (nul == nullptr) return limit + 1;
  return static_cast<size_t>(static_cast<const char*>(nul) - static_cast<const char*>(text)) + 1;
}
