#include "app/jaseloapp.h"

#include <QApplication>

#include "net/sockets.h"
#include "ui/jaselodlg.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/toolkit.h"

bool CJaseloApp::StartSockets() { return SocketLayerStartup(); }

bool CJaseloApp::InitInstance() {
  // Every window of the program, message boxes included, carries its icon.
  QApplication::setWindowIcon(LoadIconResource(IDR_MAINFRAME));
  if (!StartSockets()) {
    // Nothing is read or written: the window never exists.
    MessageBox(nullptr, LoadStringResource(IDS_SOCKETS_FAILED), QCoreApplication::applicationName(), false);
    exitCode = 1;
    return false;
  }
  {
    CJaseloDlg dlg;
    const int result = dlg.DoModal();
    // The settings are written however the window ended, unless it never ran.
    if (result != DIALOG_FAILED) dlg.WriteConfig();
  }
  SocketLayerShutdown();
  exitCode = 0;
  return false;
}
