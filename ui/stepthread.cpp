#include "ui/stepthread.h"

void CStepThread::Run(std::function<void()> step) {
  const std::lock_guard lock(mutex);
  if (thread.joinable()) thread.join();
  if (stopping) return;
  thread = std::thread(std::move(step));
}

bool CStepThread::Await(WakeEvent& news, std::chrono::milliseconds wait) {
  pollfd fds[2] = {{cancelled.Fd(), POLLIN, 0}, {news.Fd(), POLLIN, 0}};
  if (!stopping && WaitReadable(fds, 2, static_cast<int>(wait.count())) > 0 && fds[1].revents != 0) news.Drain();
  return !stopping;
}

void CStepThread::Cancel() {
  stopping = true;
  cancelled.Signal();
}

void CStepThread::Stop() {
  Cancel();
  const std::lock_guard lock(mutex);
  if (thread.joinable()) thread.join();
}
