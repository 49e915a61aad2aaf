#include "trust/hex.h"

#include <openssl/rand.h>

std::string LowerHex(const unsigned char* bytes, size_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(2 * n);
  for (size_t i = 0; i < n; ++i) hex += {digits[bytes[i] >> 4], digits[bytes[i] & 0xF]};
  return hex;
}

std::string RandomHex(size_t bytes) {
  unsigned char random[32];
  if (bytes > sizeof random || RAND_bytes(random, static_cast<int>(bytes)) != 1) return {};
  return LowerHex(random, bytes);
}

bool IsLowerHex(std::string_view text, size_t digits) {
  return text.size() == digits && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}
