#include "plan.h"

#include <algorithm>
#include <cmath>

Plan MakePlan(const BenchOptions& o) {
  Plan plan;
  const int n = o.clients;
  if (o.workload == Workload::Steady) {
    plan.perSender = static_cast<uint32_t>(std::max(1.0, std::round(o.rate * o.duration)));
    const double period = 1e9 / o.rate;
    for (uint32_t k = 0; k < plan.perSender; ++k) {
      for (int i = 0; i < n; ++i) {
        plan.lines.push_back({static_cast<int64_t>(k * period + i * period / n), i, k + 1, 0});
      }
    }
  } else if (o.workload == Workload::Bursty) {
    plan.perSender = static_cast<uint32_t>(o.lines);
    plan.rounds = (o.lines + o.burst - 1) / o.burst;
    for (int r = 0; r < plan.rounds; ++r) {
      for (int i = 0; i < n; ++i) {
        for (int b = 0; b < o.burst; ++b) {
          const uint32_t seq = static_cast<uint32_t>(r * o.burst + b + 1);
          if (seq > plan.perSender) break;
          plan.lines.push_back({static_cast<int64_t>(r * o.burstInterval * 1e9), i, seq, r});
        }
      }
    }
  }
  std::stable_sort(plan.lines.begin(), plan.lines.end(),
                   [](const Planned& a, const Planned& b) { return a.atNs < b.atNs; });
  return plan;
}
