#pragma once
// Addresses held out until a time each: an entry whose time has come is
// forgotten as it is looked at. Clock::time_point::max() holds an address
// until the table is cleared.

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>

class AddressHold {
 public:
  using Clock = std::chrono::steady_clock;

  void Hold(uint32_t address, Clock::time_point until) { held[address] = until; }
  // Until when `address` is held, or nothing once that time has come.
  std::optional<Clock::time_point> Until(uint32_t address, Clock::time_point now) {
    const auto it = held.find(address);
    if (it == held.end()) return std::nullopt;
    if (now < it->second) return it->second;
    held.erase(it);
    return std::nullopt;
  }
  // Forgets every address whose time has come.
  void Expire(Clock::time_point now) {
    std::erase_if(held, [&](const auto& entry) { return now >= entry.second; });
  }
  void Clear() { held.clear(); }

 private:
  std::map<uint32_t, Clock::time_point> held;
};
