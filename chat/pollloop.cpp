// The poll loop's passes, and the thread that runs them over one endpoint.
#include "chat/pollloop.h"

#include <chrono>
#include <thread>

void DrainQueue(CJaseloNetwork& network, ChatEvent& event, const EventHandler& handler) {
  // Everything the pass relays leaves at its end, one write per reader.
  network.BeginOutputBatch();
  while (network.ProcessPacketInQueue(event)) {
    if (handler) handler(event);
  }
  network.EndOutputBatch();
}

void RunPollLoop(const std::atomic<bool>& running, const std::function<void()>& pass) {
  while (running.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(POLL_PASS_MS));
    pass();
  }
}

void CPollThread::Begin() {
  running = true;
  Start();
}

void CPollThread::End() {
  AskToEnd();
  Wait();
}

uint32_t CPollThread::ThreadProc() {
  RunPollLoop(running, [this] {
    ++pass;
    Drain();
  });
  return 0;
}
