#include "chat/chatevent.h"

#include <cstring>

void EventString::Assign(const char* source, size_t n) {
  bytes = std::make_unique<char[]>(n + 1);
  if (source != nullptr && n != 0) std::memcpy(bytes.get(), source, n);
  bytes[n] = '\0';
}
