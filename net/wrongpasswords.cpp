#include "net/wrongpasswords.h"

#include <algorithm>

namespace {
constexpr size_t ALLOWED = 5;
constexpr auto WINDOW = std::chrono::minutes(1);
constexpr auto REFUSAL_TIME = std::chrono::minutes(1);
}  // namespace

bool WrongPasswords::Refused(uint32_t address, Clock::time_point now) {
  return refused.Until(address, now).has_value();
}

void WrongPasswords::Note(uint32_t address, Clock::time_point now) {
  std::vector<Clock::time_point>& recent = tries[address];
  std::erase_if(recent, [&](Clock::time_point t) { return now - t >= WINDOW; });
  recent.push_back(now);
  if (recent.size() >= ALLOWED) {
    refused.Hold(address, now + REFUSAL_TIME);
    tries.erase(address);
  }
  std::erase_if(tries, [&](const auto& entry) { return entry.second.empty() || now - entry.second.back() >= WINDOW; });
  refused.Expire(now);
  while (tries.size() > followed) {
    tries.erase(std::min_element(tries.begin(), tries.end(),
                                 [](const auto& a, const auto& b) { return a.second.back() < b.second.back(); }));
  }
}
