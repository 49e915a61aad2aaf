#pragma once
// Names the calling thread for profilers and notes its CPU clock, so the
// benchmark can charge CPU time to each loop.

#include <pthread.h>
#include <time.h>

#include <atomic>

class ThreadClock {
 public:
  // Called on the thread itself; the name has at most 15 characters (the
  // kernel's limit).
  void Adopt(const char* name) {
    pthread_setname_np(pthread_self(), name);
    if (pthread_getcpuclockid(pthread_self(), &clock) == 0) known = true;
  }
  // Valid while the thread runs.
  bool Get(clockid_t& out) const {
    if (!known) return false;
    out = clock;
    return true;
  }

 private:
  clockid_t clock{};
  std::atomic<bool> known{false};
};
