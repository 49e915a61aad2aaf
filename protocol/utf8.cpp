#include "protocol/utf8.h"

Utf8Char ReadUtf8Char(std::string_view text) {
  Utf8Char c;
  if (text.empty()) return c;
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  size_t wanted = 1;
  if (lead >= 0xC0 && lead < 0xE0) wanted = 2;
  else if (lead >= 0xE0 && lead < 0xF0) wanted = 3;
  else if (lead >= 0xF0 && lead < 0xF8) wanted = 4;
  c.length = 1;
  c.codePoint = wanted == 1 ? lead : lead & (0x7Fu >> wanted);
  while (c.length < wanted && c.length < text.size() && (byte(c.length) & 0xC0) == 0x80)
    c.codePoint = c.codePoint << 6 | (byte(c.length++) & 0x3Fu);
  // C0 and C1 would only start overlong forms; F5 and above lie past Unicode.
  const bool validLead = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4);
  c.wellFormed = validLead && c.length == wanted;
  if (!c.wellFormed) c.codePoint = 0;
  return c;
}

size_t Utf8PrefixLength(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t used = 0;
  while (used < limit) {
    const size_t length = ReadUtf8Char(text.substr(used)).length;
    if (used + length > limit) break;
    used += length;
  }
  return used;
}

bool IsUnsafeInName(uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string ControlsShown(std::string_view text) {
  std::string shown;
  while (!text.empty()) {
    const Utf8Char c = ReadUtf8Char(text);
    // A byte that is not UTF-8 stands for itself (every byte below 0x80 is).
    if (c.wellFormed && IsUnsafeInName(c.codePoint)) shown += "\xEF\xBF\xBD";
    else shown.append(text.substr(0, c.length));
    text.remove_prefix(c.length);
  }
  return shown;
}
