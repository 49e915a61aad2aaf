#include "net/outputbuffer.h"

void OutputBuffer::Append(const uint8_t* data, size_t n, const Mark* marks, size_t count) {
  bytes.insert(bytes.end(), data, data + n);
  const uint64_t end = takenTotal + Size();
  for (size_t i = 0; i < count; ++i) messages.push_back({marks[i].origin, marks[i].length, end});
}
