#pragma once
// One message as bytes: the fixed-capacity unit every layer passes around.

#include <cstddef>
#include <cstdint>

constexpr uint16_t PACKET_CAPACITY = 1024;

class CPacket {
 public:
  CPacket();
  CPacket(const CPacket& other);
  CPacket& operator=(const CPacket& other);
  virtual ~CPacket() = default;

  // Copies n bytes; n == 0 means "a NUL-terminated string with its NUL".
  // Refuses (false, nothing copied) what would not fit the capacity.
  bool SetData(const void* bytes, uint16_t n);

  uint8_t data[PACKET_CAPACITY];
  uint16_t length;
};

// Length of a NUL-terminated string plus its NUL, as the 16-bit count the
// protocol stores; scans at most limit bytes so an unterminated buffer is safe.
// Returns limit + 1 when no NUL lies within the first limit bytes.
size_t TerminatedLength(const void* text, size_t limit);
