#pragma once
// A host's key as people compare it: the SHA-256 of its certificate, written
// in hexadecimal, and its short form, the first 16 hex digits.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct KeyDigest {
  static constexpr size_t SHORT_DIGITS = 16;

  std::array<uint8_t, 32> bytes{};

  // 64 upper-case hex digits.
  std::string Hex() const;
  // The first SHORT_DIGITS of Hex(): what DNS-SD carries.
  std::string ShortHex() const;
  // The short form in groups of four, "3F2A 9C01 77B4 E0D2": what people read out.
  std::string Grouped() const;
  // True when `shortHex` (any letter case) is this key's short form.
  bool MatchesShort(std::string_view shortHex) const;
  // 64 hex digits in any letter case, or nothing.
  static std::optional<KeyDigest> FromHex(std::string_view hex);

  bool operator==(const KeyDigest&) const = default;
};

// The first KeyDigest::SHORT_DIGITS of `hex`, upper-cased, in groups of four.
std::string GroupedShortKey(std::string_view hex);
