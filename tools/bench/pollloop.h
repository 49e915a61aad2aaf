#pragma once
// A poll loop like the chat window's, named for profilers and with its
// thread's CPU clock at hand.

#include "chat/pollloop.h"
#include "threadclock.h"

class PollLoop : public CPollThread {
 public:
  // `name`, at most 15 characters, tells profilers which loop this is.
  PollLoop(CJaseloNetwork& network, const char* name, EventHandler handler)
      : CPollThread(network, std::move(handler)), name(name) {}
  ~PollLoop() override { End(); }

  // The loop thread's CPU clock; valid while the loop runs.
  bool CpuClock(clockid_t& clock) const { return threadClock.Get(clock); }

 private:
  uint32_t ThreadProc() override {
    threadClock.Adopt(name);
    return CPollThread::ThreadProc();
  }

  const char* name;
  ThreadClock threadClock;
};
