#include "net/wrongpasswords.h"

#include <algorithm>

namespace {
constexpr auto FIRST_WAIT = std::chrono::seconds(1);
constexpr auto LONGEST_WAIT = std::chrono::seconds(60);
constexpr auto FORGOTTEN_AFTER = std::chrono::hours(1);
}  // namespace

uint32_t WrongPasswords::WaitSeconds(uint32_t address, Clock::time_point now) {
  const auto it = records.find(address);
  if (it == records.end() || now >= it->second.next) return 0;
  return static_cast<uint32_t>(std::chrono::ceil<std::chrono::seconds>(it->second.next - now).count());
}

void WrongPasswords::Note(uint32_t address, Clock::time_point now) {
  Forget(now);
  Record& record = records[address];
  // One slip of the fingers costs nothing; from the second wrong password
  // on, each wait doubles the one before. The shift stops growing long
  // before it could overflow.
  ++record.wrong;
  const uint32_t counted = std::min<uint32_t>(record.wrong, 10);
  const auto wait = counted < 2 ? Clock::duration::zero()
                                : std::min<Clock::duration>(FIRST_WAIT * (1 << (counted - 2)), LONGEST_WAIT);
  record.last = now;
  record.next = now + wait;
  while (records.size() > followed) {
    records.erase(std::min_element(records.begin(), records.end(),
                                   [](const auto& a, const auto& b) { return a.second.last < b.second.last; }));
  }
}

void WrongPasswords::Forget(Clock::time_point now) {
  std::erase_if(records, [&](const auto& entry) { return now - entry.second.last >= FORGOTTEN_AFTER; });
}
