#include "chat/linehistory.h"

void CLineHistory::SetLimit(size_t n) {
  limit = n;
  while (lines.size() > limit) DropOldest();
}

void CLineHistory::Keep(const uint8_t* chatLine, size_t n, uint64_t generation, uint32_t at, Clock::time_point now) {
  if (limit == 0 || chatLine == nullptr || n > HISTORY_BYTES) return;
  while (!lines.empty() && now - lines.front().kept > HISTORY_AGE) DropOldest();
  while (!lines.empty() && (lines.size() >= limit || bytes + n > HISTORY_BYTES)) DropOldest();
  lines.push_back({generation, at, now, std::vector<uint8_t>(chatLine, chatLine + n)});
  bytes += n;
}

std::vector<const CLineHistory::Line*> CLineHistory::Before(uint64_t generation, Clock::time_point now) const {
  std::vector<const Line*> out;
  for (const Line& line : lines) {
    if (line.generation < generation && now - line.kept <= HISTORY_AGE) out.push_back(&line);
  }
  return out;
}

void CLineHistory::DropOldest() {
  bytes -= lines.front().chatLine.size();
  lines.pop_front();
}
