#include <gtest/gtest.h>

#include <csignal>

int main(int argc, char** argv) {
  // A peer that vanishes must show up as a send error, never kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
