#include "protocol/nickname.h"

#include <strings.h>

#include <cstdint>
#include <string>

#include "protocol/headers.h"

namespace {
// Unicode's format characters (general category Cf): invisible, and some
// change the direction or the joining of the characters around them.
bool IsFormatCharacter(uint32_t c) {
  static constexpr uint32_t ranges[][2] = {
      {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},   {0x06DD, 0x06DD},   {0x070F, 0x070F},
      {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},   {0x200B, 0x200F},   {0x202A, 0x202E},
      {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD},
      {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
      {0xE0020, 0xE007F},
  };
  for (const auto& [low, high] : ranges) {
    if (c >= low && c <= high) return true;
  }
  return false;
}

// The code point of a well-formed UTF-8 sequence at `i` and its length, or a
// length of 0 where the bytes are not UTF-8.
uint32_t DecodeUtf8(std::string_view s, size_t i, size_t& length) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t lead = byte(i);
  length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead < 0xE0 ? 2 : 0;
  if (lead >= 0xF5 || length == 0 || i + length > s.size()) {
    length = 0;
    return 0;
  }
  uint32_t c = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) {
      length = 0;
      return 0;
    }
    c = (c << 6) | (byte(i + k) & 0x3F);
  }
  return c;
}
}  // namespace

bool IsAcceptableNickname(std::string_view name) {
  if (!name.empty() && (name.front() == ' ' || name.back() == ' ')) return false;
  if (strcasecmp(std::string(name).c_str(), SERVER_SHUTDOWN_NAME) == 0) return false;
  for (size_t i = 0; i < name.size();) {
    const uint8_t b = static_cast<uint8_t>(name[i]);
    if (b < 0x20 || b == 0x7F) return false;
    if (b < 0x80) {
      ++i;
      continue;
    }
    size_t length = 0;
    const uint32_t c = DecodeUtf8(name, i, length);
    if (length == 0) {
      ++i;  // another code page's byte
      continue;
    }
    if (IsFormatCharacter(c)) return false;
    i += length;
  }
  return true;
}
