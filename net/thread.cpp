#include "net/thread.h"

#include <system_error>

#include "protocol/diagnostics.h"

CThread::~CThread() {
  Close();
  std::lock_guard<std::mutex> guard(joinMutex);
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}

void CThread::Start() {
  std::lock_guard<std::mutex> guard(joinMutex);
  // A finished earlier thread is joined first; a running one keeps its place.
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id()) return;
    thread.join();
  }
  try {
    thread = std::thread([this] {
      threadId = std::this_thread::get_id();
      ThreadProc();
      // Thread ids are reused once a thread is gone.
      threadId = std::thread::id();
    });
    hasHandle = true;
  } catch (const std::system_error&) {
    Diag("CThread() - Thread creation failed.");
  }
}

void CThread::Wait() {
  std::lock_guard<std::mutex> guard(joinMutex);
  if (!thread.joinable() || thread.get_id() == std::this_thread::get_id()) return;
  thread.join();
}

bool CThread::IsCurrentThread() const { return threadId.load() == std::this_thread::get_id(); }
