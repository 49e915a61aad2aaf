#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "common/test_support.h"
#include "protocol/diagnostics.h"

namespace {
// Reads what arrived on the pipe until `until` is in it or the deadline passes.
void ReadUntil(int fd, std::string& got, const std::string& until) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (got.find(until) == std::string::npos && std::chrono::steady_clock::now() < end) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) continue;
    char chunk[65536];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) got.append(chunk, static_cast<size_t>(n));
  }
}
}  // namespace

// Standard output on a pipe that nobody reads: Diag keeps returning, the
// lines that found no room are counted in one line once the pipe is read,
// and every line that arrives is whole and in order.
TEST(Diagnostics, BlockedOutputNeverHoldsTheCaller) {
  int pipeFds[2];
  ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
  fflush(stdout);
  const int savedStdout = dup(STDOUT_FILENO);
  ASSERT_GE(savedStdout, 0);
  dup2(pipeFds[1], STDOUT_FILENO);

  constexpr int LINES = 5000;  // about 200 KB: more than the pipe and the queue hold
  std::atomic<bool> done{false};
  std::thread emitter([&done] {
    for (int i = 0; i < LINES; ++i) Diag("Diagnostic line %05d of a flood nobody reads\n", i);
    done = true;
  });
  const bool returned = WaitFor([&done] { return done.load(); }, std::chrono::seconds(5));
  std::string got;
  ReadUntil(pipeFds[0], got, "lines dropped\n");  // also frees a caller stuck in a write
  emitter.join();
  Diag("after the flood\n");
  ReadUntil(pipeFds[0], got, "after the flood\n");

  dup2(savedStdout, STDOUT_FILENO);
  close(savedStdout);
  close(pipeFds[0]);
  close(pipeFds[1]);

  EXPECT_TRUE(returned) << "Diag waited on an output nobody reads";
  int next = 0, received = 0, notices = 0;
  size_t dropped = 0;
  size_t start = 0;
  for (size_t end; (end = got.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = got.substr(start, end - start);
    int index = -1;
    char tail[64] = {};
    size_t count = 0;
    if (std::sscanf(line.c_str(), "Diagnostic line %d %63[^\n]", &index, tail) == 2) {
      EXPECT_EQ(std::string(tail), "of a flood nobody reads");
      EXPECT_GE(index, next) << "lines out of order";
      next = index + 1;
      ++received;
    } else if (std::sscanf(line.c_str(), "Diagnostics: %zu lines dropped", &count) == 1) {
      dropped += count;
      ++notices;
    } else {
      EXPECT_EQ(line, "after the flood") << "a line was cut or mixed";
    }
  }
  EXPECT_EQ(start, got.size()) << "the output ends inside a line";
  // One notice per stretch of dropped lines: more than one when the queue
  // filled faster than the writer emptied it before the pipe was full.
  EXPECT_GE(notices, 1);
  EXPECT_GT(dropped, 0u);
  EXPECT_EQ(received + dropped, size_t{LINES});
  EXPECT_EQ(got.substr(got.size() - 16), "after the flood\n");
}
