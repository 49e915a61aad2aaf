// A chat server that pushes short lines at the one client joining it, as fast
// as the connection takes them, and says what happens, one line each, with the
// milliseconds since it started listening:
//   LISTENING <port>
//   JOINED at=<ms> / PROGRESS pushed=<n> at=<ms> (twice a second)
//   PUSHED lines=<n> at=<ms> (every line taken) / HEARD text=<s> at=<ms>
//   DEPARTED at=<ms> / CLOSED at=<ms> (the client left; the program ends)
// Usage: jaselo-push --lines N [--port P]
#include <poll.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "linepusher.h"
#include "tooloptions.h"

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void OnStop(int) { stopRequested = 1; }
}  // namespace

int main(int argc, char** argv) {
  size_t lines = 100000;
  uint16_t port = 0;
  std::string error;
  ArgCursor arg(argc, argv, true);
  while (arg.Next()) {
    bool ok = false;
    if (arg.Is("--lines")) ok = arg.Number<size_t>(lines, 0, 100000000, "--lines takes a count", error);
    else if (arg.Is("--port")) ok = arg.Number<uint16_t>(port, 0, 65535, "--port takes a port number", error);
    else error = "unknown option " + arg.Name();
    if (!ok) {
      std::fprintf(stderr, "jaselo-push: %s\nUsage: jaselo-push --lines N [--port P]\n", error.c_str());
      return 2;
    }
  }
  std::signal(SIGINT, OnStop);
  std::signal(SIGTERM, OnStop);
  LinePusher pusher(lines, port);
  if (pusher.Port() == 0) {
    std::fprintf(stderr, "jaselo-push: cannot listen\n");
    return 1;
  }
  const auto start = LinePusher::Clock::now();
  const auto ms = [&](LinePusher::Clock::time_point t) {
    return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(t - start).count());
  };
  std::printf("LISTENING %u\n", unsigned{pusher.Port()});
  std::fflush(stdout);
  bool joined = false, all = false, departed = false;
  size_t heard = 0;
  for (int tick = 0; !stopRequested; ++tick) {
    poll(nullptr, 0, 50);
    const auto now = LinePusher::Clock::now();
    if (!joined && pusher.Joined()) std::printf("JOINED at=%lld\n", ms(now));
    joined = pusher.Joined();
    if (tick % 10 == 0 && joined) std::printf("PROGRESS pushed=%zu at=%lld\n", pusher.Pushed(), ms(now));
    if (!all && pusher.Pushed() == lines) {
      all = true;
      std::printf("PUSHED lines=%zu at=%lld\n", lines, ms(now));
    }
    const auto said = pusher.HeardLines();
    for (; heard < said.size(); ++heard)
      std::printf("HEARD text=%s at=%lld\n", said[heard].text.c_str(), ms(said[heard].at));
    if (!departed && pusher.Departed()) std::printf("DEPARTED at=%lld\n", ms(now));
    departed = pusher.Departed();
    const bool closed = pusher.Closed();
    if (closed) std::printf("CLOSED at=%lld\n", ms(now));
    std::fflush(stdout);
    if (closed) break;
  }
  return 0;
}
