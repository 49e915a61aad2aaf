#pragma once
// The addresses that gave a chat's password wrong lately: several wrong ones
// within a minute make the host refuse that address for a minute, whatever it
// gives then. A flood of addresses cannot grow the table without bound: beyond
// `followed` addresses, the one whose last wrong password is the oldest is
// forgotten first, never the one guessing now.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "net/addresshold.h"

class WrongPasswords {
 public:
  using Clock = std::chrono::steady_clock;

  explicit WrongPasswords(size_t followed = 1024) : followed(followed) {}

  // True while `address` is refused for the wrong passwords it gave.
  bool Refused(uint32_t address, Clock::time_point now);
  // Counts a wrong password from `address`.
  void Note(uint32_t address, Clock::time_point now);
  size_t Followed() const { return tries.size(); }

 private:
  size_t followed;
  std::map<uint32_t, std::vector<Clock::time_point>> tries;
  AddressHold refused;
};
