#include "ui/stepthread.h"

void CStepThread::Run(std::function<void()> step) {
  if (thread.joinable()) thread.join();
  const std::lock_guard lock(mutex);
  if (stopping) return;
  thread = std::thread(std::move(step));
}

bool CStepThread::Pause(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex);
  return !wake.wait_for(lock, wait, [this] { return stopping; });
}

void CStepThread::Cancel() {
  {
    const std::lock_guard lock(mutex);
    stopping = true;
  }
  wake.notify_all();
}

void CStepThread::Stop() {
  Cancel();
  if (thread.joinable()) thread.join();
}
