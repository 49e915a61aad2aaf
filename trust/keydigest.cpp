#include "trust/keydigest.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

namespace {
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::string KeyDigest::Hex() const {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0xF];
  }
  return hex;
}

std::string KeyDigest::ShortHex() const { return Hex().substr(0, SHORT_DIGITS); }

std::string KeyDigest::Grouped() const { return GroupedShortKey(ShortHex()); }

std::string GroupedShortKey(std::string_view hex) {
  hex = hex.substr(0, std::min(hex.size(), KeyDigest::SHORT_DIGITS));
  std::string grouped;
  for (size_t i = 0; i < hex.size(); ++i) {
    if (i > 0 && i % 4 == 0) grouped += ' ';
    grouped += static_cast<char>(std::toupper(static_cast<unsigned char>(hex[i])));
  }
  return grouped;
}

bool KeyDigest::MatchesShort(std::string_view shortHex) const {
  return shortHex.size() == SHORT_DIGITS &&
         strncasecmp(ShortHex().c_str(), std::string(shortHex).c_str(), SHORT_DIGITS) == 0;
}

std::optional<KeyDigest> KeyDigest::FromHex(std::string_view hex) {
  KeyDigest key;
  if (hex.size() != key.bytes.size() * 2) return std::nullopt;
  for (size_t i = 0; i < key.bytes.size(); ++i) {
    const int high = HexValue(hex[2 * i]), low = HexValue(hex[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key.bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return key;
}
