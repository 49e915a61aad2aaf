#pragma once
// Digests and random identifiers as lower-case hex digits.

#include <cstddef>
#include <string>
#include <string_view>

std::string LowerHex(const unsigned char* bytes, size_t n);
// `bytes` random bytes (at most 32) from OpenSSL, in hex; empty when it
// has none to give.
std::string RandomHex(size_t bytes);
// Exactly `digits` lower-case hex digits: the only form of an id or a
// digest this program makes, and the only one it believes.
bool IsLowerHex(std::string_view text, size_t digits);
