#include <QApplication>
#include <csignal>

#include "app/jaseloapp.h"

static CJaseloApp theApp;

int main(int argc, char** argv) {
  // A peer that vanishes must show up as a send error, never end the program.
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  theApp.InitInstance();
  return theApp.ExitCode();
}
