#pragma once
// The public lines a host relayed most recently, kept for those who join
// later. Bounded by lines, by bytes and by age, whatever the number of
// participants: one copy of each line, the oldest going first. Its owner's
// endpoint lock guards it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

constexpr size_t HISTORY_LINES = 200;
// Together with the people list, a whole replay stays well within what a
// connection's output may hold, so that it never counts as a reader that
// cannot keep up.
constexpr size_t HISTORY_BYTES = 128 * 1024;
constexpr std::chrono::hours HISTORY_AGE{1};

class CLineHistory {
 public:
  using Clock = std::chrono::steady_clock;

  struct Line {
    uint64_t generation;  // the client table's generation when it was relayed
    uint32_t at;          // relayed at, UTC seconds
    Clock::time_point kept;
    std::vector<uint8_t> chatLine;  // exactly as relayed
  };

  // At most `lines` lines (0: none is kept).
  void SetLimit(size_t lines);
  void Keep(const uint8_t* chatLine, size_t n, uint64_t generation, uint32_t at, Clock::time_point now);
  // The lines relayed before the table reached `generation`, not older than
  // HISTORY_AGE, oldest first.
  std::vector<const Line*> Before(uint64_t generation, Clock::time_point now) const;
  size_t Count() const { return lines.size(); }
  size_t Bytes() const { return bytes; }

 private:
  void DropOldest();
  size_t limit = HISTORY_LINES;
  size_t bytes = 0;
  std::deque<Line> lines;
};
