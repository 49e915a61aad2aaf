#include "net/connectrate.h"

#include <algorithm>

ConnectRate::ConnectRate(double burst, double perSecond, size_t tracked)
    : burst(burst), perSecond(perSecond), tracked(std::max<size_t>(tracked, 1)) {}

bool ConnectRate::Take(uint32_t address, Clock::time_point now) {
  auto it = buckets.find(address);
  if (it == buckets.end()) {
    MakeRoom(now);
    it = buckets.emplace(address, Bucket{burst, now}).first;
  }
  Bucket& bucket = it->second;
  const double seconds = std::chrono::duration<double>(now - bucket.last).count();
  bucket.tokens = std::min(burst, bucket.tokens + std::max(0.0, seconds) * perSecond);
  bucket.last = now;
  if (bucket.tokens < 1) return false;
  bucket.tokens -= 1;
  return true;
}

void ConnectRate::MakeRoom(Clock::time_point now) {
  if (buckets.size() < tracked) return;
  // A bucket that has filled up again says nothing a new one would not.
  const double refill = perSecond > 0 ? burst / perSecond : 0;
  std::erase_if(buckets, [&](const auto& entry) {
    return perSecond > 0 && std::chrono::duration<double>(now - entry.second.last).count() >= refill;
  });
  if (buckets.size() < tracked) return;
  const auto oldest = std::min_element(buckets.begin(), buckets.end(),
                                       [](const auto& a, const auto& b) { return a.second.last < b.second.last; });
  buckets.erase(oldest);
}
