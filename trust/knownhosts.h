#pragma once
// The hosts a client has met, each remembered with its key at its first
// meeting: one line per host, "<address> <port> <key in 64 hex digits>", in
// a file only the user may read. Deleting a host's line forgets it.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "trust/keydigest.h"

// The file, inside a data folder.
inline constexpr const char* KNOWN_HOSTS_FILE = "known-hosts";

class KnownHosts {
 public:
  explicit KnownHosts(std::string path) : path(std::move(path)) {}

  // The key remembered for a host, read afresh from the file each time so
  // that a line deleted by hand counts at once.
  std::optional<KeyDigest> Find(const std::string& address, uint16_t port);
  // Remembers (or replaces) a host's key; the rest of the file stays as it is.
  bool Remember(const std::string& address, uint16_t port, const KeyDigest& key, std::string& error);
  const std::string& Path() const { return path; }

 private:
  std::mutex mutex;  // one writer at a time within the program
  const std::string path;
};
