#pragma once
// The hosts a client has met, each remembered with its key at its first
// meeting: one line per host, "<address> <port> <key in 64 hex digits>", in
// a file only the user may read. Deleting a host's line forgets it.

#include <cstdint>
#include <mutex>
#include <string>

#include "trust/keydigest.h"

// The file, inside a data folder.
inline constexpr const char* KNOWN_HOSTS_FILE = "known-hosts";

// What the file says of one host. Anything but a missing file or a missing
// line is a reason to refuse the host: a file that cannot be read, or a line
// that names the host and cannot be read, could hide the key it was met with.
struct HostEntry {
  enum class State { NotMet, Met, Unreadable, BadLine };
  State state = State::NotMet;
  KeyDigest key;       // Met
  std::string reason;  // Unreadable: why
  size_t line = 0;     // BadLine: the first line that names the host, counted from 1
};

class KnownHosts {
 public:
  explicit KnownHosts(std::string path) : path(std::move(path)) {}

  // The host's entry, read afresh from the file each time so that a line
  // deleted by hand counts at once. The first line that names the host decides.
  HostEntry Look(const std::string& address, uint16_t port);
  // Remembers a host's key in place of every line that names it; the rest of
  // the file stays as it is.
  bool Remember(const std::string& address, uint16_t port, const KeyDigest& key, std::string& error);
  const std::string& Path() const { return path; }

 private:
  std::mutex mutex;  // one writer at a time within the program
  const std::string path;
};
