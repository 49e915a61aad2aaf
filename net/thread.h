#pragma once
// The program's concurrency primitives: a re-entrant lock, and a thread
// object whose body is a virtual ThreadProc.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

class CMonitor {
 public:
  CMonitor() = default;
  virtual ~CMonitor() = default;
  CMonitor(const CMonitor&) = delete;
  CMonitor& operator=(const CMonitor&) = delete;

  // Re-entrant: a thread that holds the lock may take it again, and releases
  // it once per take. (std::recursive_mutex cannot fail to be created.)
  void Lock() { mutex.lock(); }
  void Unlock() { mutex.unlock(); }

 private:
  std::recursive_mutex mutex;
};

// Holds a CMonitor for the rest of its scope, so that no early return can
// leave the lock taken.
class CMonitorGuard {
 public:
  explicit CMonitorGuard(CMonitor& monitor) : monitor(monitor) { monitor.Lock(); }
  ~CMonitorGuard() { monitor.Unlock(); }
  CMonitorGuard(const CMonitorGuard&) = delete;
  CMonitorGuard& operator=(const CMonitorGuard&) = delete;

 private:
  CMonitor& monitor;
};

class CThread : public CMonitor {
 public:
  CThread() = default;
  // Joins a thread that is still running, unless destroyed on that thread
  // itself. Derived classes must stop and Wait before their own members go.
  ~CThread() override;

  void Start();
  // Returns once ThreadProc has returned, whether or not Close came first.
  // Never called by the thread itself (it returns at once if it is).
  void Wait();
  // Drops the handle; neither waits for nor stops the thread.
  void Close() { hasHandle = false; }
  bool HasHandle() const { return hasHandle; }
  bool IsCurrentThread() const;

  virtual uint32_t ThreadProc() { return 0; }

 private:
  // The std::thread outlives Close so that Wait and the destructor can still
  // join it: no thread ever outlives its object.
  std::thread thread;
  std::mutex joinMutex;
  std::atomic<bool> hasHandle{false};
  std::atomic<std::thread::id> threadId{};
};
