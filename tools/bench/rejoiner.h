#pragma once
// One more client that leaves and joins again every second while the
// workload runs, as somebody on a flaky connection would: each join asks for
// the list of people and the earlier lines, so the host serves a whole
// replay every second beside the relays the honest clients measure.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class Rejoiner {
 public:
  static constexpr const char* kNickPrefix = "rejoin";

  struct Figures {
    uint64_t joins = 0;           // connections made
    uint64_t answered = 0;        // joins whose list came whole
    uint64_t earlier = 0;         // earlier lines received, over every join
    uint64_t people = 0;          // people listed, over every join
    std::vector<float> answerMs;  // from the connect call to the list's end
  };

  Rejoiner() = default;
  ~Rejoiner() { Finish(); }
  Rejoiner(const Rejoiner&) = delete;
  Rejoiner& operator=(const Rejoiner&) = delete;

  // Joins every second until `untilNs` (bench clock) or Finish.
  void Begin(uint16_t port, int64_t untilNs);
  // Leaves, if in, and ends the thread.
  void Finish();
  Figures Taken();

  const std::string nick = std::string(kNickPrefix) + "0";

 private:
  void Run(uint16_t port, int64_t untilNs);
  std::atomic<bool> stop{false};
  std::thread thread;
  std::mutex mutex;
  Figures figures;
};
