#pragma once
// An endpoint unchanged but for naming its socket thread (so profilers can
// tell the threads apart) and noting the thread's CPU clock.

#include "chat/jaselonetwork.h"
#include "threadclock.h"

class MeasuredEndpoint : public CJaseloNetwork {
 public:
  // At most 15 characters: the kernel's limit for a thread name.
  explicit MeasuredEndpoint(const char* threadName) : threadName(threadName) {}
  // Valid while the socket thread runs.
  bool CpuClock(clockid_t& clock) const { return threadClock.Get(clock); }

 private:
  uint32_t ThreadProc() override {
    threadClock.Adopt(threadName);
    return CJaseloNetwork::ThreadProc();
  }
  const char* threadName;
  ThreadClock threadClock;
};
