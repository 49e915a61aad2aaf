#pragma once
// The poll loop: every pass it pauses, then hands what an endpoint's queue
// yields to the one who shows or records it. Handling the queue is also what
// makes a server relay, route and forget clients. The chat window runs the
// loop on its own thread; the tests and tools run it on a CPollThread.

#include <atomic>
#include <cstdint>
#include <functional>

#include "chat/jaselonetwork.h"
#include "net/thread.h"

// Every poll loop pauses this long each pass. The relay benchmark's latency
// model uses the same value, so that the model cannot drift from the code.
constexpr int POLL_PASS_MS = 50;

using EventHandler = std::function<void(ChatEvent&)>;

// Hands every event `network`'s queue yields to `handler`, oldest first, each
// in `event` (one object reused for every call). Without a handler the events
// are only taken.
void DrainQueue(CJaseloNetwork& network, ChatEvent& event, const EventHandler& handler);

// Runs passes while `running` holds: each pauses POLL_PASS_MS, then runs
// `pass`. Clearing `running` ends the loop within one pass: the pass in
// progress ends and no new one begins.
void RunPollLoop(const std::atomic<bool>& running, const std::function<void()>& pass);

// A poll loop on a thread of its own, draining one endpoint into `handler`.
// A derived class whose handler or ThreadProc uses its own members calls
// End in its own destructor, before those members go.
class CPollThread : public CThread {
 public:
  CPollThread(CJaseloNetwork& network, EventHandler handler) : network(network), handler(std::move(handler)) {}
  ~CPollThread() override { End(); }

  void Begin();
  // Asking every loop first, then ending each, lets many loops end within
  // one pass rather than one pass each.
  void AskToEnd() { running = false; }
  void End();
  // Passes begun so far; read on the loop's own thread, by the handler.
  uint64_t Pass() const { return pass; }

  uint32_t ThreadProc() override;

 protected:
  // One pass's draining of the queue.
  void Drain() { DrainQueue(network, event, handler); }

 private:
  CJaseloNetwork& network;
  const EventHandler handler;
  std::atomic<bool> running{false};
  uint64_t pass = 0;
  ChatEvent event;
};
