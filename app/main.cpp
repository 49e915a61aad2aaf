#include <QApplication>
#include <csignal>
#include <cstdio>
#include <string>

#include "app/commandline.h"
#include "app/jaseloapp.h"
#include "app/userfolder.h"
#include "app/version.h"
#include "ui/toolkit/toolkit.h"

static CJaseloApp theApp;

int main(int argc, char** argv) {
  // Answered before anything else: no window, no settings file.
  const CommandLine line = ParseCommandLine(argc, argv);
  switch (line.action) {
    case CommandLine::Action::Help: std::fputs(UsageText(), stdout); return 0;
    case CommandLine::Action::Version: std::printf("jaselo %s\n", JASELO_VERSION); return 0;
    case CommandLine::Action::UsageError:
      std::fprintf(stderr, "jaselo: %s\nTry 'jaselo --help'.\n", line.error.c_str());
      return 2;
    case CommandLine::Action::Run: break;
  }
  // A peer that vanishes must show up as a send error, never end the program.
  std::signal(SIGPIPE, SIG_IGN);
  // Every option has been taken: Qt sees the program's name alone.
  int qtArgc = 1;
  QApplication app(qtArgc, argv);
  // Desktops tie the window and its notifications to the menu entry by it.
  QGuiApplication::setDesktopFileName(QStringLiteral(JASELO_APP_ID));
  if (line.userFolder) {
    std::string error;
    if (!EnterUserFolder(error)) {
      // Started from the menu, nobody reads the standard error.
      MessageBox(nullptr, QString::fromStdString(error), QStringLiteral("Error"), true);
      return 1;
    }
  }
  theApp.InitInstance();
  return theApp.ExitCode();
}
