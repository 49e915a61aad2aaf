#pragma once
// The workload's plan: who sends which line when, relative to its start.

#include <cstdint>
#include <vector>

#include "options.h"

struct Planned {
  int64_t atNs;
  int sender;
  uint32_t seq;
  int round;
};

struct Plan {
  std::vector<Planned> lines;  // in the order they are sent
  uint32_t perSender = 0;
  int rounds = 1;
};

Plan MakePlan(const BenchOptions& o);

// Flooders start this long before the workload, so that its lines meet a
// flood in full swing, and stop at its end, or this long after its last
// planned line at the latest.
constexpr int64_t kFloodLeadNs = 2'000'000'000;
constexpr int64_t kFloodTailNs = 10'000'000'000;
// At full speed a flooder's lines are taken at about one a host pass; the
// cap only keeps a runaway count bounded.
constexpr uint64_t kFloodLineCap = 1'000'000;
