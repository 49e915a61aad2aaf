#include <gtest/gtest.h>

#include <csignal>

#include "common/test_support.h"

int main(int argc, char** argv) {
  // A peer that vanishes must show up as a send error, never kill the run.
  std::signal(SIGPIPE, SIG_IGN);
  const PrivateDataFolder data;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
