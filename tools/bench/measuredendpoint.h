#pragma once
// An endpoint unchanged but for naming its socket thread, so that profilers
// can tell the threads apart.

#include <pthread.h>

#include "chat/jaselonetwork.h"

class MeasuredEndpoint : public CJaseloNetwork {
 public:
  // At most 15 characters: the kernel's limit for a thread name.
  explicit MeasuredEndpoint(const char* threadName) : threadName(threadName) {}

 private:
  uint32_t ThreadProc() override {
    pthread_setname_np(pthread_self(), threadName);
    return CJaseloNetwork::ThreadProc();
  }
  const char* threadName;
};
