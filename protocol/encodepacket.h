#pragma once
// Builds a message by appending little-endian integers and byte strings.
// Every append that would pass the capacity is refused and changes nothing.

#include <cstdint>

#include "protocol/packet.h"

class CEncodePacket {
 public:
  CEncodePacket();
  virtual ~CEncodePacket() = default;

  void Reset();
  // Replaces the content; refuses (false, nothing changed) more than the capacity.
  bool SetBuffer(const void* bytes, uint16_t n);
  // Appends the n (1 to 4) low-order bytes of value, least significant first.
  bool AddValue(int32_t value, uint16_t n);
  // Appends n bytes; n == 0 means the NUL-terminated string with its NUL.
  bool AddString(const void* bytes, uint16_t n);
  // Inserts the n low-order bytes of value in front of the content.
  bool PrependValue(int32_t value, uint16_t n);
  void GetPacket(CPacket& packet) const;

  uint8_t data[PACKET_CAPACITY];
  uint16_t length;
};
