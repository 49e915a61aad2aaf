#pragma once
// The SHA-256 of bytes in lower-case hex, as sharers give it and the host
// checks it.

#include <openssl/evp.h>

#include <string>

inline std::string Sha256(const std::string& bytes) {
  unsigned char digest[32];
  unsigned int n = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &n, EVP_sha256(), nullptr);
  std::string hex;
  for (unsigned char b : digest) hex += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 0xF]};
  return hex;
}
