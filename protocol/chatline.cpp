#include "protocol/chatline.h"

#include <cstring>

void EventString::Assign(const char* source, size_t n) {
  bytes = std::make_unique<char[]>(n + 1);
  if (source != nullptr && n != 0) std::memcpy(bytes.get(), source, n);
  bytes[n] = '\0';
}

void ChatLine::State(EventString& string, uint16_t& length, std::string_view bytes) {
  string.Assign(bytes.data(), bytes.size());
  length = static_cast<uint16_t>(bytes.size() + 1);
}
