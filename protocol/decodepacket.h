#pragma once
// Reads a message field by field through a cursor. Failures are sticky in
// practice: a failed read never moves the cursor and the cursor never moves
// back, so once the data runs out every later read fails too, and a handler
// can read all fields and test the outcome once.

#include <cstdint>

#include "protocol/packet.h"

class CDecodePacket {
 public:
  CDecodePacket();
  virtual ~CDecodePacket() = default;

  bool Initialize(const CPacket& packet);
  bool GetCharValue(uint8_t& value);
  bool GetShortValue(uint16_t& value);
  bool GetLongValue(uint32_t& value);
  // Copies n bytes as they stand; no terminator is added.
  bool GetString(void* buffer, uint16_t n);

  uint8_t data[PACKET_CAPACITY];
  uint16_t cursor;
  uint16_t length;
  bool initialized;

 private:
  // A read may begin before the end of the data and run past it (it is then
  // completed from the rest of the array), but never past the array itself.
  bool CanRead(const char* operation, uint16_t width) const;
  uint32_t ReadLittleEndian(uint16_t width);
};
