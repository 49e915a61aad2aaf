#include "headlesshost.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "childprocess.h"

namespace {

enum class FirstLine { Read, Silent, Ended };

// Reads one byte at a time, so that nothing after the line is taken from the
// pipe: a caller reading the output itself finds it all there.
FirstLine ReadFirstLine(int fd, std::chrono::milliseconds limit, std::string& line) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    if (left <= 0) return FirstLine::Silent;
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return FirstLine::Silent;
    char c;
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FirstLine::Ended;
    if (c == '\n') return FirstLine::Read;
    // Far longer than any LISTENING line: whatever it is, it is not one.
    if (line.size() >= 256) return FirstLine::Read;
    line += c;
  }
}

}  // namespace

HeadlessHost::~HeadlessHost() {
  Stop(std::chrono::seconds(5));
  CloseFd(out);
}

bool HeadlessHost::Start(const std::string& program, const HeadlessHostOptions& options, std::string& error) {
  // A measured or tested host is nobody's chat: it stays off the network's list.
  std::vector<std::string> argv = {program, "--serve", "--port", "0", "--no-announce"};
  if (options.quiet) argv.push_back("--quiet");
  argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
  if (options.connectRate != 0) {
    argv.push_back("--connect-rate");
    argv.push_back(std::to_string(options.connectRate));
  }
  const Child child = Spawn(argv, true, true, options.extraEnv);
  in = child.in;
  out = child.out;
  pid = child.pid;
  if (pid < 0) {
    error = "could not run " + program;
    return false;
  }
  std::string line;
  const FirstLine got = ReadFirstLine(out, std::chrono::seconds(10), line);
  unsigned p = 0;
  if (got == FirstLine::Read && std::sscanf(line.c_str(), "LISTENING %u", &p) == 1 && p != 0 && p <= 65535) {
    port = static_cast<uint16_t>(p);
  } else {
    error = got == FirstLine::Silent  ? "the host printed no LISTENING line within 10 s"
            : got == FirstLine::Ended ? "the host ended before listening"
                                      : "unexpected first line from the host: " + line;
    Stop(std::chrono::seconds(2));
    return false;
  }
  if (options.drainOutput) {
    drainer = std::thread([fd = out] {
      char buffer[4096];
      ssize_t n;
      while ((n = read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
      }
    });
  }
  return true;
}

int HeadlessHost::Stop(std::chrono::milliseconds limit) {
  CloseFd(in);
  int status = -1;
  if (pid > 0) status = WaitExit(pid, limit);
  pid = -1;
  // The host has ended, so its output has too: the drainer sees the end.
  if (drainer.joinable()) drainer.join();
  return status;
}
