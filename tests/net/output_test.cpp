// One connection's output as a state machine, over a socket pair whose other
// end the test reads, or does not.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "net/connectionoutput.h"

namespace {
using State = ConnectionOutput::State;
using Next = ConnectionOutput::Next;

struct Pair {
  Pair() {
    socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fd);
    const int small = 4096;
    setsockopt(fd[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  }
  ~Pair() {
    close(fd[0]);
    if (fd[1] >= 0) close(fd[1]);
  }
  int fd[2];
};
}  // namespace

TEST(ConnectionOutput, BatchesHoldWritesFreeAndFailuresAreFinal) {
  Pair pair;
  PlainStream plain;
  ConnectionOutput out;
  size_t left = 0;
  const auto count = [&](uint64_t, size_t n) { left += n; };
  const uint8_t message[100] = {};
  constexpr size_t LIMIT = 64 * 1024;

  EXPECT_EQ(out.Append(message, 100, 7, plain, true, LIMIT), Next::ListPending);
  EXPECT_EQ(out.Append(message, 100, 7, plain, true, LIMIT), Next::Nothing) << "listed once per batch";
  EXPECT_EQ(out.GetState(), State::Pending);
  EXPECT_FALSE(out.WantsRoom()) << "the batch's end writes it, not the socket thread";
  ASSERT_TRUE(out.Write(pair.fd[0], plain, LIMIT, count));
  EXPECT_EQ(out.GetState(), State::Idle);
  EXPECT_EQ(left, 200u);

  // A reader that takes nothing: what its socket cannot hold waits, until
  // more waits than a reader that keeps up would ever have.
  uint8_t big[8192] = {};
  EXPECT_EQ(out.Append(big, sizeof big, 0, plain, false, LIMIT), Next::Write);
  ASSERT_TRUE(out.Write(pair.fd[0], plain, LIMIT, count));
  EXPECT_EQ(out.GetState(), State::Blocked);
  EXPECT_TRUE(out.WantsRoom());
  EXPECT_EQ(out.Append(big, sizeof big, 0, plain, true, sizeof big), Next::Write)
      << "past the bound a batch holds nothing";
  EXPECT_FALSE(out.Write(pair.fd[0], plain, sizeof big, count));
  EXPECT_EQ(errno, ENOBUFS);
  EXPECT_EQ(out.GetState(), State::Failed);
  EXPECT_EQ(out.Append(message, 100, 0, plain, false, LIMIT), Next::Nothing) << "a failed output takes nothing more";

  ConnectionOutput other;
  close(pair.fd[1]);
  pair.fd[1] = -1;
  EXPECT_EQ(other.Append(message, 100, 0, plain, false, LIMIT), Next::Write);
  EXPECT_FALSE(other.Write(pair.fd[0], plain, LIMIT, count));
  EXPECT_EQ(other.GetState(), State::Failed);
}
