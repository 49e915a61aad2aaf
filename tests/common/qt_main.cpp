#include <gtest/gtest.h>

#include <QApplication>
#include <csignal>
#include <cstdlib>

#include "common/test_support.h"

int main(int argc, char** argv) {
  std::signal(SIGPIPE, SIG_IGN);
  const PrivateDataFolder data;
  // Widget tests run without a display.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // A window in the server role announces its chat: never on the machine's
  // own network. The discovery test names a bus of its own instead.
  setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/jaselo-tests/system_bus_socket", 0);
  QApplication app(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
