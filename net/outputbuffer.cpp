#include "net/outputbuffer.h"

void OutputBuffer::Append(const uint8_t* data, size_t n, uint64_t origin) {
  bytes.insert(bytes.end(), data, data + n);
  const uint64_t end = takenTotal + Size();
  messages.push_back({origin, n, end});
}
