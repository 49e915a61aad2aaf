#pragma once
// The addresses that gave a chat's password wrong lately. After a second
// wrong password the next one from that address is looked at only once a wait
// has passed: a second, doubling with each further one up to a minute, so
// that one address makes at most about seventy guesses in an hour.
// An hour without a wrong one forgets the address. A flood of addresses
// cannot grow the table without bound: beyond `followed` addresses, the one
// whose last wrong password is the oldest is forgotten first, never the one
// guessing now.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>

class WrongPasswords {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WrongPasswords(size_t followed = 1024) : followed(followed) {}

  // How many seconds (rounded up) before a password from `address` is looked
  // at again; 0: now.
  uint32_t WaitSeconds(uint32_t address, Clock::time_point now);
  // Counts a wrong password from `address`, which starts its next wait.
  void Note(uint32_t address, Clock::time_point now);
  size_t Followed() const { return records.size(); }

 private:
  struct Record {
    uint32_t wrong = 0;
    Clock::time_point last;
    Clock::time_point next;
  };
  void Forget(Clock::time_point now);

  size_t followed;
  std::map<uint32_t, Record> records;
};
