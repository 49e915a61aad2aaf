#pragma once
// A poll loop like the chat window's: every 50 ms, drain the endpoint's queue.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "chat/jaselonetwork.h"
#include "net/thread.h"
#include "threadclock.h"

class PollLoop : public CThread {
 public:
  using Handler = std::function<void(ChatEvent&)>;
  // `name`, at most 15 characters, tells profilers which loop this is.
  PollLoop(CJaseloNetwork& network, const char* name, Handler handler)
      : network(network), name(name), handler(std::move(handler)) {}
  ~PollLoop() override { Halt(); }

  void Begin() {
    running = true;
    Start();
  }
  // Like the window's shutdown: the pass in progress ends, no new one starts.
  // Asking every loop first lets many loops end within one pass.
  void AskToHalt() { running = false; }
  void Halt() {
    AskToHalt();
    Wait();
  }
  // Passes begun so far; read by the handler, on the loop's own thread.
  uint64_t Pass() const { return pass; }
  // The loop thread's CPU clock; valid while the loop runs.
  bool CpuClock(clockid_t& clock) const { return threadClock.Get(clock); }

 private:
  uint32_t ThreadProc() override {
    threadClock.Adopt(name);
    ChatEvent event;
    while (running) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      ++pass;
      while (network.ProcessPacketInQueue(event)) handler(event);
    }
    return 0;
  }

  CJaseloNetwork& network;
  const char* name;
  Handler handler;
  std::atomic<bool> running{false};
  uint64_t pass = 0;
  ThreadClock threadClock;
};
