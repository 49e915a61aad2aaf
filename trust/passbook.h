#pragma once
// The passes hosts gave this client for knowing their password, one line per
// host key, "<key in 64 hex digits> <pass>", in a file only the user may
// read. A pass lets the client's own tries through while a guesser at the
// same address waits; it admits nobody without the password.

#include <mutex>
#include <string>

#include "trust/keydigest.h"

// The file, inside a data folder.
inline constexpr const char* PASSES_FILE = "host-passes";

class PassBook {
 public:
  explicit PassBook(std::string path) : path(std::move(path)) {}

  // The pass the host with `key` gave, or empty (none, or a file that
  // cannot be read: without a pass the client only waits as others do).
  std::string Find(const KeyDigest& key);
  // Keeps `pass` for `key` in place of the one kept before; the other lines
  // stay, the oldest going once the book is full.
  bool Keep(const KeyDigest& key, const std::string& pass, std::string& error);

 private:
  std::mutex mutex;  // one writer at a time within the program
  const std::string path;
};
