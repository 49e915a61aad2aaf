#pragma once
// Digests and random identifiers as lower-case hex digits.

#include <cstddef>
#include <string>

std::string LowerHex(const unsigned char* bytes, size_t n);
// `bytes` random bytes (at most 32) from OpenSSL, in hex; empty when it
// has none to give.
std::string RandomHex(size_t bytes);
