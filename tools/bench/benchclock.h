#pragma once
// One clock for the whole benchmark: nanoseconds since the program began.

#include <chrono>
#include <cstdint>

inline std::chrono::steady_clock::time_point BenchEpoch() {
  static const auto epoch = std::chrono::steady_clock::now();
  return epoch;
}
inline int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - BenchEpoch()).count();
}
