#pragma once
// The poll loop: it sleeps until an endpoint's queue has something new, the
// connection ends, its owner asks it to stop or its next deadline comes, then
// hands what the queue yields to the one who shows or records it. The chat
// window runs the loop on its own thread; the tests and tools run it on a
// CPollThread. (A server's queue is handled by its own socket thread.)

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "chat/jaselonetwork.h"
#include "net/thread.h"

using EventHandler = std::function<void(ChatEvent&)>;

// Hands every event `network`'s queue yields to `handler`, oldest first, each
// in `event` (one object reused for every call). Without a handler the events
// are only taken.
void DrainQueue(CJaseloNetwork& network, ChatEvent& event, const EventHandler& handler);

// Runs passes while `running` holds. Each pass returns how long the loop may
// sleep before the next (milliseconds; negative: until woken); the sleep ends
// early when any of `wakes` is signalled, and the signalled ones are drained
// before the pass runs. Whoever clears `running` signals one of them.
void RunPollLoop(const std::atomic<bool>& running, std::initializer_list<WakeEvent*> wakes,
                 const std::function<int()>& pass);

// The sleep a pass may take over `network`: none while its queue still holds
// something, else `deadline` (milliseconds, negative: none).
int PollTimeout(CJaseloNetwork& network, int deadline = -1);

// A poll loop on a thread of its own, draining one endpoint into `handler`.
// A derived class whose handler or ThreadProc uses its own members calls
// End in its own destructor, before those members go.
class CPollThread : public CThread {
 public:
  CPollThread(CJaseloNetwork& network, EventHandler handler) : network(network), handler(std::move(handler)) {}
  ~CPollThread() override { End(); }

  void Begin();
  // Asking every loop first, then ending each, lets many loops end together
  // rather than one after another.
  void AskToEnd() {
    running = false;
    stop.Signal();
  }
  void End();
  // Passes begun so far; read on the loop's own thread, by the handler.
  uint64_t Pass() const { return pass; }

  uint32_t ThreadProc() override;

 protected:
  // One pass's draining of the queue.
  void Drain() { DrainQueue(network, event, handler); }
  // After each pass, on the loop's thread.
  virtual void Passed() {}
  CJaseloNetwork& Network() { return network; }

 private:
  CJaseloNetwork& network;
  const EventHandler handler;
  std::atomic<bool> running{false};
  WakeEvent stop;
  uint64_t pass = 0;
  ChatEvent event;
};
