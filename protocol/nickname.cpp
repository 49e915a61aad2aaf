#include "protocol/nickname.h"

#include <strings.h>

#include <cstdint>
#include <string>

#include "protocol/headers.h"
#include "protocol/utf8.h"

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

}  // namespace

Nickname::Nickname(std::string_view text) : text(text.substr(0, Utf8PrefixLength(text, MAX_NICKNAME_BYTES))) {}

bool Nickname::Is(const char* name) const { return name != nullptr && strcasecmp(name, text.c_str()) == 0; }

bool IsAcceptableNickname(std::string_view name) {
  if (!name.empty() && (name.front() == ' ' || name.back() == ' ')) return false;
  if (strcasecmp(std::string(name).c_str(), SERVER_SHUTDOWN_NAME) == 0) return false;
  for (size_t i = 0; i < name.size();) {
    const uint8_t b = static_cast<uint8_t>(name[i]);
    if (b < 0x20 || b == 0x7F) return false;
    const Utf8Char c = ReadUtf8Char(name.substr(i));
    // What is not UTF-8 is another code page's bytes.
    if (c.wellFormed && IsFormatCharacter(c.codePoint)) return false;
    i += c.length;
  }
  return true;
}
