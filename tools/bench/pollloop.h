#pragma once
// A poll loop like the chat window's, named for profilers.

#include <pthread.h>

#include "chat/pollloop.h"

class PollLoop : public CPollThread {
 public:
  // `name`, at most 15 characters, tells profilers which loop this is.
  PollLoop(CJaseloNetwork& network, const char* name, EventHandler handler)
      : CPollThread(network, std::move(handler)), name(name) {}
  ~PollLoop() override { End(); }

 private:
  uint32_t ThreadProc() override {
    pthread_setname_np(pthread_self(), name);
    return CPollThread::ThreadProc();
  }

  const char* name;
};
