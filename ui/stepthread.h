#pragma once
// A step that must not hold up the UI thread (a connect, a wait for a host's
// answer) runs on a thread of this object's own, one step at a time. The step
// hands its result to the UI thread itself, by a queued call.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "net/sockets.h"

class CStepThread {
 public:
  CStepThread() = default;
  ~CStepThread() { Stop(); }
  CStepThread(const CStepThread&) = delete;
  CStepThread& operator=(const CStepThread&) = delete;

  // Runs `step` on a new thread, once the last one has ended (it has handed
  // its result over by then, so that this never waits long). Nothing runs
  // after Stop.
  void Run(std::function<void()> step);
  // On the step's thread: waits until `news` is signalled (and drains it),
  // `wait` has passed or Stop comes; false once stopping.
  bool Await(WakeEvent& news, std::chrono::milliseconds wait);
  // Cuts a wait short and lets no step begin; the thread is joined by Stop.
  void Cancel();
  // Cancel, then joins the thread.
  void Stop();

 private:
  std::thread thread;
  std::mutex mutex;  // guards `thread` against a Run racing a Stop
  std::atomic<bool> stopping{false};
  WakeEvent cancelled;
};
