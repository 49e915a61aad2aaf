#pragma once
// How fast one address may open connections: a small token bucket per
// address, looked at right after the accept, before any work is spent on the
// connection (no handshake, no buffer, no seat). A flood from one address then
// costs the host an accept and a close per connection, and the newcomers from
// everywhere else are accepted in the same wake-up.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <unordered_map>

class ConnectRate {
 public:
  using Clock = std::chrono::steady_clock;

  // `burst` connections at once, then `perSecond`; at most `tracked`
  // addresses are remembered, the one heard from least recently forgotten
  // first (a forgotten address starts again with a full bucket, which is
  // what it would have by then anyway unless it is flooding).
  ConnectRate(double burst, double perSecond, size_t tracked = 1024);

  // Spends one token of `address`; false when it has none left.
  bool Take(uint32_t address, Clock::time_point now);
  size_t Tracked() const { return buckets.size(); }

 private:
  struct Bucket {
    double tokens = 0;
    Clock::time_point last{};
  };
  void MakeRoom(Clock::time_point now);

  double burst;
  double perSecond;
  size_t tracked;
  std::unordered_map<uint32_t, Bucket> buckets;
};
