#include "scenarios.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <thread>

#include "common/wire.h"
#include "linepusher.h"
#include "procstat.h"
#include "room.h"
#include "temporaryfolder.h"

namespace {
using namespace std::chrono_literals;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// Prints a failed check at once, so a long run shows it where it happened.
void Fail(Failures& failures, const std::string& what) {
  std::fprintf(stderr, "   FAILED: %s\n", what.c_str());
  failures.push_back(what);
}

void NoteViolations(Failures& failures, const Room& room, size_t& seen) {
  const auto all = room.Violations();
  for (; seen < all.size(); ++seen) Fail(failures, all[seen]);
}

template <typename Condition>
bool PumpUntil(Condition done, Clock::duration limit, std::vector<std::vector<Raw>*> sets) {
  const auto end = Clock::now() + limit;
  for (;;) {
    for (auto* s : sets) {
      for (auto& r : *s) Flush(r);
      Pump(*s);
    }
    if (done()) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(10ms);
  }
}

std::string Stats(const LatencyStats& s) {
  return Printf("%zu deliveries, p50 %.0f ms, p99 %.0f ms, max %.0f ms", s.count, s.p50Ms, s.p99Ms, s.maxMs);
}

void CloseAndReport(Room& room, Failures& failures, const char* with) {
  const double took = room.CloseHost(10s);
  if (took < 0) {
    Fail(failures, Printf("closing the host %s did not end it within 10 s (killed)", with));
  } else {
    std::printf("  closing the host %s took %.2f s\n", with, took);
    if (took >= 2.0) Fail(failures, Printf("closing the host %s took %.2f s, 2 s or more", with, took));
  }
}
}  // namespace

Failures BlockedOutputScenario(const std::string& participant) {
  Failures failures;
  std::fprintf(stderr, "-- the host's standard output on a pipe nobody reads\n");
  std::printf("\nThe host's standard output on a pipe nobody reads (diagnostics on, three honest participants)\n");
  Room room(participant);
  if (!room.StartHost(true) || !room.StartHonest(3, "calm")) {
    Fail(failures, "the room did not start");
    return failures;
  }
  size_t violationsSeen = 0;
  room.StartTalking(100ms, 20);
  // A burst of short lines, a diagnostic line each, fills the one-page pipe.
  auto filler = ConnectMany(1, room.Port(), 10s);
  SendNow(filler[0], WireText(Welcome("filler")));
  PumpUntil([&] { return room.SeenJoined("filler") == 1; }, 5s, {&filler});
  std::string burst;
  for (int i = 0; i < 200; ++i) burst += WireText(Says("filler", "fill " + std::to_string(i)));
  Offer(filler[0], burst);
  const int pipeSize = fcntl(room.HostOutput(), F_GETPIPE_SZ);
  // Full: not a byte more for half a second while the chat, a diagnostic line
  // per message, goes on. (A blocked writer may leave the pipe far from full:
  // its lines go in writes of up to PIPE_BUF bytes, each whole or not at all,
  // and one wake-up's burst makes a large one.)
  int waiting = 0, before = -1;
  auto changed = Clock::now();
  const bool full = PumpUntil(
      [&] {
        ioctl(room.HostOutput(), FIONREAD, &waiting);
        if (waiting != before) changed = Clock::now();
        before = waiting;
        return waiting > 0 && Clock::now() - changed >= 500ms;
      },
      10s, {&filler});
  if (!full)
    Fail(failures,
         Printf("the host's output pipe never filled (%d of %d bytes): nothing was blocked", waiting, pipeSize));

  const auto from = Clock::now();
  PumpUntil([] { return false; }, 5s, {&filler});
  room.StopTalking();
  const auto to = Clock::now();
  room.WaitCaughtUp(5s);
  const size_t missing = room.Missing(from, to);
  std::printf("  pipe full (%d bytes waiting); honest lines said in the 5 s after: %s; %zu never came\n", waiting,
              Stats(room.Overall(from, to)).c_str(), missing);
  if (missing > 0) Fail(failures, Printf("%zu honest deliveries stopped while the host's output was blocked", missing));
  NoteViolations(failures, room, violationsSeen);
  CloseAll(filler);
  CloseAndReport(room, failures, "with its output blocked");
  room.Stop();
  return failures;
}

Failures FloodScenario(const std::string& participant, int seconds) {
  Failures failures;
  std::printf(
      "\nFloods: participants sending 900-character lines as fast as they are taken, %d s per phase, "
      "four honest participants saying a line a second\n",
      seconds);
  Room room(participant);
  if (!room.StartHost() || !room.StartHonest(4, "steady")) {
    Fail(failures, "the room did not start");
    return failures;
  }
  size_t violationsSeen = 0;
  room.StartTalking(1000ms, 100);
  for (const int flooders : {2, 8}) {
    std::fprintf(stderr, "-- %d flooders for %d s\n", flooders, seconds);
    const auto from = Clock::now();
    std::vector<Child> children;
    std::vector<std::thread> feeders;
    std::atomic<bool> feeding{true};
    std::atomic<long> taken{0};
    for (int i = 0; i < flooders; ++i) {
      children.push_back(Spawn({participant, "--nick", "flood" + std::to_string(flooders) + "x" + std::to_string(i),
                                "--port", std::to_string(room.Port()), "--quiet"},
                               false, false));
    }
    for (auto& c : children) {
      feeders.emplace_back([&feeding, &taken, fd = c.in] {
        const std::string line = std::string(900, 'F') + "\n";
        while (feeding && WriteAll(fd, line)) ++taken;
      });
    }
    const auto end = from + std::chrono::seconds(seconds);
    while (Clock::now() < end && room.Dropped() == 0) std::this_thread::sleep_for(200ms);
    const auto to = Clock::now();
    feeding = false;
    for (auto& c : children) kill(c.pid, SIGKILL);
    for (auto& c : children) {
      WaitExit(c.pid, 5s);
      CloseFd(c.in);
    }
    for (auto& f : feeders) f.join();
    room.WaitCaughtUp(30s);

    const auto minutes = room.PerMinute(from, to);
    std::printf("  %d flooders (%ld lines taken from their input in %.0f s):\n", flooders, taken.load(),
                Seconds(to - from));
    for (size_t m = 0; m < minutes.size(); ++m) {
      std::printf("    minute %zu: %s\n", m + 1, Stats(minutes[m]).c_str());
      if (minutes[m].p99Ms >= 2000) {
        Fail(failures,
             Printf("%d flooders, minute %zu: honest p99 %.0f ms, 2 s or more", flooders, m + 1, minutes[m].p99Ms));
      }
    }
    const size_t missing = room.Missing(from, to);
    if (room.Dropped() > 0)
      Fail(failures, Printf("%d flooders: %d honest participants dropped", flooders, room.Dropped()));
    if (missing > 0) {
      Fail(failures, Printf("%d flooders: %zu honest deliveries never came (30 s after the flood)", flooders, missing));
    }
    NoteViolations(failures, room, violationsSeen);
    if (room.Dropped() > 0) break;
  }
  room.StopTalking();
  room.Stop();
  return failures;
}

Failures StuckReadersScenario(const std::string& participant, int seconds) {
  Failures failures;
  std::fprintf(stderr, "-- 20 participants that never read, for %d s\n", seconds);
  std::printf(
      "\nStuck readers: 20 participants that never read, each sent private 900-character lines by a loud "
      "one, while four honest participants say a line a second for %d s\n",
      seconds);
  Room room(participant);
  if (!room.StartHost() || !room.StartHonest(4, "chatty")) {
    Fail(failures, "the room did not start");
    return failures;
  }
  size_t violationsSeen = 0;
  room.StartTalking(1000ms, 100);
  constexpr int STUCK = 20;
  // A small receive buffer and segment size keep what the kernels hold for a
  // stuck reader to a few hundred KB instead of megabytes, so its buffers
  // fill within seconds.
  auto stuck = ConnectMany(STUCK, room.Port(), 20s, 4096, ACCEPT_GAP, 536);
  auto loud = ConnectMany(STUCK, room.Port(), 20s);
  for (int i = 0; i < STUCK; ++i) {
    stuck[static_cast<size_t>(i)].reads = false;
    SendNow(stuck[static_cast<size_t>(i)], WireText(Welcome("stuck" + std::to_string(i))));
    SendNow(loud[static_cast<size_t>(i)], WireText(Welcome("loud" + std::to_string(i))));
  }
  if (!PumpUntil([&] { return room.SeenJoined("stuck") == STUCK && room.SeenJoined("loud") == STUCK; }, 15s,
                 {&loud, &stuck})) {
    Fail(failures,
         Printf("only %d stuck and %d loud participants joined", room.SeenJoined("stuck"), room.SeenJoined("loud")));
  }

  // Each loud participant keeps its stuck one supplied; the kernel's bytes
  // toward a stuck reader stop growing once its buffers are full.
  const std::string text(900, 'L');
  std::vector<size_t> held(STUCK, 0);
  std::vector<Clock::time_point> filled(STUCK, Clock::now());
  const auto feed = [&](std::vector<Raw>& targets, const std::string& prefix, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (!targets[i].closedByServer)
        Offer(loud[i], WireText(Private(prefix + std::to_string(i), "loud" + std::to_string(i), text)));
    }
  };
  // Every 100 ms at most: each look reads all of /proc/net/tcp.
  auto nextSample = Clock::now();
  const auto sample = [&](std::vector<Raw>& targets, size_t count) {
    if (Clock::now() < nextSample) return;
    nextSample = Clock::now() + 100ms;
    for (size_t i = 0; i < count; ++i) {
      if (targets[i].closedByServer) continue;
      const size_t bytes = KernelBytesToward(targets[i], room.Port());
      if (bytes > held[i]) {
        held[i] = bytes;
        filled[i] = Clock::now();
      }
    }
  };
  const auto from = Clock::now();
  PumpUntil(
      [&] {
        feed(stuck, "stuck", STUCK);
        sample(stuck, STUCK);
        return Clock::now() - from >= std::chrono::seconds(seconds);
      },
      std::chrono::seconds(seconds + 1), {&loud, &stuck});
  const auto to = Clock::now();
  // Those not yet full are kept supplied until they are (their kernel queue
  // stops growing), and get their 10 s from then: a loaded machine fills
  // them later, and a reader whose buffers never filled owes no drop.
  PumpUntil(
      [&] {
        feed(stuck, "stuck", STUCK);
        sample(stuck, STUCK);
        for (int i = 0; i < STUCK; ++i) {
          if (!stuck[static_cast<size_t>(i)].closedByServer && Clock::now() - filled[static_cast<size_t>(i)] < 10s)
            return false;
        }
        return true;
      },
      60s, {&loud, &stuck});

  int dropped = 0;
  double worst = 0;
  for (int i = 0; i < STUCK; ++i) {
    const Raw& r = stuck[static_cast<size_t>(i)];
    if (!r.closedByServer) continue;
    ++dropped;
    worst = std::max(worst, Seconds(r.closedAt - filled[static_cast<size_t>(i)]));
  }
  room.WaitCaughtUp(10s);
  const LatencyStats honest = room.Overall(from, to);
  const size_t missing = room.Missing(from, to);
  std::printf("  honest lines: %s; %zu never came\n", Stats(honest).c_str(), missing);
  std::printf("  stuck readers dropped: %d/%d%s (the kernels held up to %zu bytes toward one)\n", dropped, STUCK,
              dropped > 0 ? Printf(", at most %.1f s after their buffers filled", worst).c_str() : "",
              *std::max_element(held.begin(), held.end()));
  if (honest.p99Ms >= 1000)
    Fail(failures, Printf("honest p99 %.0f ms beside stuck readers, 1 s or more", honest.p99Ms));
  if (missing > 0) Fail(failures, Printf("%zu honest deliveries never came beside stuck readers", missing));
  if (room.Dropped() > 0) Fail(failures, Printf("%d honest participants dropped beside stuck readers", room.Dropped()));
  if (dropped < STUCK) Fail(failures, Printf("%d of %d stuck readers never dropped", STUCK - dropped, STUCK));
  if (worst > 10)
    Fail(failures, Printf("a stuck reader was dropped %.1f s after its buffers filled, over 10 s", worst));
  NoteViolations(failures, room, violationsSeen);

  // Closing with stuck readers present: five more, their buffers full.
  constexpr size_t LATE = 5;
  auto late = ConnectMany(static_cast<int>(LATE), room.Port(), 10s, 4096, ACCEPT_GAP, 536);
  for (size_t i = 0; i < LATE; ++i) {
    late[i].reads = false;
    SendNow(late[i], WireText(Welcome("late" + std::to_string(i))));
  }
  PumpUntil([&] { return room.SeenJoined("late") == static_cast<int>(LATE); }, 10s, {&loud, &late});
  std::fill(held.begin(), held.end(), 0);
  std::fill(filled.begin(), filled.end(), Clock::now());
  PumpUntil(
      [&] {
        feed(late, "late", LATE);
        sample(late, LATE);
        for (size_t i = 0; i < LATE; ++i) {
          if (held[i] == 0 || Clock::now() - filled[i] < 1s) return false;
        }
        return true;
      },
      8s, {&loud, &late});
  int present = 0;
  for (const auto& r : late) present += r.closedByServer ? 0 : 1;
  room.StopTalking();
  std::printf("  closing with %d stuck readers present\n", present);
  CloseAndReport(room, failures, "beside stuck readers");
  CloseAll(late);
  CloseAll(stuck);
  CloseAll(loud);
  room.Stop();
  return failures;
}

Failures PushedParticipantScenario(const std::string& participant) {
  Failures failures;
  constexpr size_t LINES = 400000;
  std::fprintf(stderr, "-- a server pushing %zu lines at a participant\n", LINES);
  std::printf("\nA server pushing %zu lines of %zu bytes at once at a participant that joined it\n", LINES,
              LinePusher::LINE_BYTES);
  LinePusher pusher(LINES);
  // The pusher speaks no TLS on a port the kernel may have given a host of
  // this run before: a participant that met that host would rightly refuse
  // it. This one has met nobody.
  TemporaryFolder met;
  Child child = Spawn(
      {participant, "--nick", "pushed", "--port", std::to_string(pusher.Port()), "--quiet", "--data-dir", met.Path()},
      true, true);
  // Its output is read slowly at first, as a terminal shows it: what it
  // cannot print waits, in its queue or in the server.
  std::atomic<size_t> shown{0};
  std::atomic<bool> slow{true};
  std::thread reader([&] {
    char chunk[4096];
    for (ssize_t n; (n = read(child.out, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR);) {
      shown += static_cast<size_t>(std::count(chunk, chunk + std::max<ssize_t>(n, 0), '\n'));
      if (slow) std::this_thread::sleep_for(20ms);
    }
  });
  const auto mib = [&] { return ReadProcUsage(child.pid).rssMiB; };
  double settled = 0, most = 0;
  const auto from = Clock::now();
  while (Clock::now() - from < 6s) {
    std::this_thread::sleep_for(100ms);
    if (settled == 0 && Clock::now() - from >= 1s) settled = mib();
    most = std::max(most, mib());
  }
  const size_t pushedBefore = pusher.Pushed(), shownBefore = shown;
  const auto typed = Clock::now();
  WriteAll(child.in, "typed\n");
  PumpUntil([&] { return !pusher.HeardLines().empty(); }, 10s, {});
  const auto heard = pusher.HeardLines();
  slow = false;
  const auto closedAt = Clock::now();
  CloseFd(child.in);
  const int status = WaitExit(child.pid, 10s);
  const double took = Seconds(Clock::now() - closedAt);
  reader.join();
  CloseFd(child.out);
  std::printf("  in 6 s: %zu lines pushed, %zu printed; resident %.1f MiB after 1 s, at most %.1f MiB\n", pushedBefore,
              shownBefore, settled, most);
  if (heard.empty()) Fail(failures, "the line given to the pushed participant never reached the server");
  else std::printf("  a line given to it reached the server after %.0f ms\n", Seconds(heard[0].at - typed) * 1000);
  std::printf("  it ended %.2f s after its input closed, status %d\n", took, status);
  // A sanitizer's build holds freed memory back on purpose: its size says nothing there.
#ifndef __SANITIZE_ADDRESS__
  if (most - settled >= 16) Fail(failures, Printf("the pushed participant grew from %.1f to %.1f MiB", settled, most));
#endif
  if (!heard.empty() && heard[0].at - typed >= 1s)
    Fail(failures, "a line given to the pushed participant took 1 s or more");
  if (status != 0 || took >= 1.0)
    Fail(failures, Printf("the pushed participant ended with %d after %.2f s", status, took));
  if (!pusher.Departed()) Fail(failures, "the pushed participant's departure never reached the server");
  return failures;
}
