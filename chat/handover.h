#pragma once
// A bounded first-in first-out hand-over of values from one thread to
// another: the poll thread hands the window what to show, by value, and goes
// on. It never waits for the other thread to do anything but take: only when
// `limit` values wait does Put wait, until one is taken or Stop is called,
// so that a window that falls behind holds its poll loop, and through it the
// network, instead of collecting what it cannot show.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

template <typename T>
class CHandover {
 public:
  explicit CHandover(size_t limit) : limit(limit) {}

  // Producer. Queues `value`, first waiting for room while `limit` values
  // wait. Returns false, with `value` dropped, once Stop has been called;
  // sets `call` when the consumer must be called to take it (it has not been
  // since a Take found nothing).
  bool Put(T value, bool& call) {
    std::unique_lock lock(mutex);
    room.wait(lock, [&] { return stopped || values.size() < limit; });
    call = false;
    if (stopped) return false;
    values.push_back(std::move(value));
    call = !called;
    called = true;
    return true;
  }

  // Consumer. Moves the oldest value to `out`; false when nothing waits, and
  // the next Put then asks for a call.
  bool Take(T& out) {
    std::lock_guard lock(mutex);
    if (values.empty()) {
      called = false;
      return false;
    }
    out = std::move(values.front());
    values.pop_front();
    room.notify_one();
    return true;
  }

  // Any thread: how many values wait to be taken.
  size_t Waiting() const {
    std::lock_guard lock(mutex);
    return values.size();
  }

  // Any thread: every Put from now on, the one waiting included, returns
  // false at once.
  void Stop() {
    {
      std::lock_guard lock(mutex);
      stopped = true;
    }
    room.notify_all();
  }

 private:
  const size_t limit;
  mutable std::mutex mutex;
  std::condition_variable room;
  std::deque<T> values;
  bool called = false;  // the consumer has been asked to take, and has not found nothing since
  bool stopped = false;
};
