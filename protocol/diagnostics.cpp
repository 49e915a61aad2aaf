#include "protocol/diagnostics.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

// Standard output may be a terminal nobody reads or a pipe nobody drains, and
// a write to it then blocks for as long as that lasts. Diag is called on the
// network threads, some of them holding the endpoint lock, so it must never
// wait on that write. A writer thread of its own does the blocking writes;
// Diag only queues the line under a short lock. Setting O_NONBLOCK on
// standard output instead, even on a dup of it, would change the open file
// that the parent shares (a shell then sees EAGAIN on its own writes), and
// polling for writability says nothing reliable about how much a terminal or
// a socket takes in one write.
namespace {
using namespace std::chrono_literals;

// Lines waiting beyond this are dropped and counted: memory stays bounded
// however long the output stays blocked.
constexpr size_t QUEUE_LIMIT = 64 * 1024;
// At exit, the queued lines get this long to leave; a blocked output must not
// hold up the program's end.
constexpr auto EXIT_DRAIN = 250ms;
constexpr const char* DROPPED_NOTICE = "Diagnostics: %zu lines dropped\n";

struct Output {
  std::mutex mutex;
  std::condition_variable wake;     // the writer: lines to write
  std::condition_variable drained;  // the exit: nothing left to write
  std::deque<std::string> lines;
  size_t queuedBytes = 0;
  size_t dropped = 0;  // since the last notice
  bool writing = false;
  bool writerStarted = false;
  DiagSink sink;
};

// Never destroyed: the writer may still be blocked in a write while the
// program's static objects are torn down.
Output& Out() {
  static Output* output = new Output;
  return *output;
}

std::string Format(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return {};
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

std::string DroppedLine(size_t count) {
  char text[64];
  std::snprintf(text, sizeof text, DROPPED_NOTICE, count);
  return text;
}

// Under the lock: the count of dropped lines goes out in their place.
void QueueDroppedNotice(Output& o) {
  std::string notice = DroppedLine(o.dropped);
  o.queuedBytes += notice.size();
  o.lines.push_back(std::move(notice));
  o.dropped = 0;
}

void WriteAll(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // output closed or broken: nothing more can be said there
    done += static_cast<size_t>(n);
  }
}

void WriterLoop() {
  Output& o = Out();
  std::unique_lock<std::mutex> lock(o.mutex);
  for (;;) {
    o.wake.wait(lock, [&o] { return !o.lines.empty() || o.dropped > 0; });
    if (o.lines.empty()) QueueDroppedNotice(o);
    // Whole lines, together at most PIPE_BUF bytes where they fit: a pipe
    // takes such a write in one piece, so lines that other code of the
    // process writes to the same output never land inside ours.
    std::string chunk;
    while (!o.lines.empty() && (chunk.empty() || chunk.size() + o.lines.front().size() <= PIPE_BUF)) {
      chunk += o.lines.front();
      o.queuedBytes -= o.lines.front().size();
      o.lines.pop_front();
    }
    o.writing = true;
    lock.unlock();
    WriteAll(chunk);
    lock.lock();
    o.writing = false;
    if (o.lines.empty() && o.dropped == 0) o.drained.notify_all();
  }
}

void DrainAtExit() {
  Output& o = Out();
  std::unique_lock<std::mutex> lock(o.mutex);
  o.drained.wait_for(lock, EXIT_DRAIN, [&o] { return o.lines.empty() && o.dropped == 0 && !o.writing; });
}

// Under the lock; the writer starts with the first line that needs it.
void StartWriter(Output& o) {
  if (o.writerStarted) return;
  o.writerStarted = true;
  std::thread(WriterLoop).detach();
  std::atexit(DrainAtExit);
}
}  // namespace

void Diag(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string line = Format(format, args);
  va_end(args);

  Output& o = Out();
  {
    // One lock for the sink and the queue keeps lines from different threads whole.
    std::lock_guard<std::mutex> guard(o.mutex);
    if (o.sink) {
      o.sink(line);
      return;
    }
    StartWriter(o);
    const size_t notice = o.dropped > 0 ? DroppedLine(o.dropped).size() : 0;
    if (!o.lines.empty() && o.queuedBytes + notice + line.size() > QUEUE_LIMIT) {
      ++o.dropped;
      return;
    }
    if (o.dropped > 0) QueueDroppedNotice(o);
    o.queuedBytes += line.size();
    o.lines.push_back(std::move(line));
  }
  o.wake.notify_one();
}

void SetDiagSink(DiagSink sink) {
  Output& o = Out();
  std::lock_guard<std::mutex> guard(o.mutex);
  o.sink = std::move(sink);
}
