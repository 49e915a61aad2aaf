// The poll loop's passes, and the thread that runs them over one endpoint.
#include "chat/pollloop.h"

#include <vector>

void DrainQueue(CJaseloNetwork& network, ChatEvent& event, const EventHandler& handler) {
  // Everything the pass sends leaves at its end, one write per reader.
  network.BeginOutputBatch();
  while (network.ProcessPacketInQueue(event)) {
    if (handler) handler(event);
  }
  network.EndOutputBatch();
}

void RunPollLoop(const std::atomic<bool>& running, std::initializer_list<WakeEvent*> wakes,
                 const std::function<int()>& pass) {
  std::vector<pollfd> fds;
  for (WakeEvent* wake : wakes) fds.push_back({wake->Fd(), POLLIN, 0});
  int timeout = 0;
  while (running.load()) {
    if (timeout != 0) WaitReadable(fds.data(), fds.size(), timeout);
    // Drained before the pass: what is signalled during it wakes the next wait.
    for (size_t i = 0; i < fds.size(); ++i) {
      if (timeout == 0 || fds[i].revents != 0) wakes.begin()[i]->Drain();
    }
    if (!running.load()) break;
    timeout = pass();
  }
}

int PollTimeout(CJaseloNetwork& network, int deadline) { return network.QueuedCount() > 0 ? 0 : deadline; }

void CPollThread::Begin() {
  running = true;
  Start();
}

void CPollThread::End() {
  AskToEnd();
  Wait();
}

uint32_t CPollThread::ThreadProc() {
  RunPollLoop(running, {&stop, &network.News()}, [this] {
    ++pass;
    Drain();
    Passed();
    return PollTimeout(network);
  });
  return 0;
}
