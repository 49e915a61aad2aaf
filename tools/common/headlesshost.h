#pragma once
// The headless participant as a chat host in a process of its own, started
// the one way the benchmark and the tests need it: `--serve --port 0`, unannounced, ready
// once its first line, "LISTENING <port>", names the port it took.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct HeadlessHostOptions {
  bool quiet = true;  // --quiet: none of the library's diagnostic lines
  // Read and drop whatever it prints after the LISTENING line, so that it never
  // waits on a full pipe. Without it the caller reads Output() itself.
  bool drainOutput = true;
  std::vector<std::string> extraEnv;  // NAME=value entries added to ours
  // --connect-rate: a harness that opens hundreds of connections from this
  // machine to measure something else lifts the host's connection rate
  // (0 keeps the host's own).
  unsigned connectRate = 0;
  std::vector<std::string> extraArgs{};  // more options of --serve
};

class HeadlessHost {
 public:
  HeadlessHost() = default;
  ~HeadlessHost();
  HeadlessHost(const HeadlessHost&) = delete;
  HeadlessHost& operator=(const HeadlessHost&) = delete;

  // Runs `program` and waits up to 10 s for its LISTENING line. False, with the
  // reason in `error`, when it cannot run or says anything else; it is then
  // ended.
  bool Start(const std::string& program, const HeadlessHostOptions& options, std::string& error);
  uint16_t Port() const { return port; }
  // -1 before Start and once it ended.
  pid_t Pid() const { return pid; }
  // Its standard output, from just after the LISTENING line; open until the
  // host is destroyed.
  int Output() const { return out; }
  // Closes its input as a user ends it: it says goodbye and exits. Its exit
  // status once it ends within `limit`, else -1 (it is then killed).
  int Stop(std::chrono::milliseconds limit);

 private:
  pid_t pid = -1;
  int in = -1;
  int out = -1;
  uint16_t port = 0;
  std::thread drainer;
};
