#pragma once
// An endpoint unchanged but for naming its socket thread (so profilers can
// tell the threads apart) and noting the thread's CPU clock.

#include <pthread.h>
#include <time.h>

#include <atomic>

#include "chat/jaselonetwork.h"

class MeasuredEndpoint : public CJaseloNetwork {
 public:
  // At most 15 characters: the kernel's limit for a thread name.
  explicit MeasuredEndpoint(const char* threadName) : threadName(threadName) {}
  // Valid while the socket thread runs.
  bool CpuClock(clockid_t& clock) const {
    if (!hasClock) return false;
    clock = cpuClock;
    return true;
  }

 private:
  uint32_t ThreadProc() override {
    pthread_setname_np(pthread_self(), threadName);
    if (pthread_getcpuclockid(pthread_self(), &cpuClock) == 0) hasClock = true;
    return CJaseloNetwork::ThreadProc();
  }
  const char* threadName;
  clockid_t cpuClock{};
  std::atomic<bool> hasClock{false};
};
