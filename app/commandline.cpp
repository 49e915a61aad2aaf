#include "app/commandline.h"

#include <string_view>

CommandLine ParseCommandLine(int argc, const char* const* argv) {
  CommandLine line;
  bool help = false;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--user-folder") {
      line.userFolder = true;
    } else {
      // Qt's own options included: nothing on the command line reaches Qt.
      line.action = CommandLine::Action::UsageError;
      line.error = arg.starts_with('-') ? "unknown option '" + std::string(arg) + "'"
                                        : "unexpected argument '" + std::string(arg) + "'";
      return line;
    }
  }
  if (help) {
    line.action = CommandLine::Action::Help;
  } else if (version) {
    line.action = CommandLine::Action::Version;
  }
  return line;
}

const char* UsageText() {
  return R"(Usage: jaselo [--user-folder]
       jaselo --help | --version

A text chat for the computers of a local network. The program reads its
settings from config.cfg in the folder it runs in, asks for the nickname,
the role (server or client), the address and the port, then opens the chat
window; it writes the settings back to config.cfg when the window closes.
Beside the transcript, the list of the people in the chat shows once the
window is wide enough (F9 shows or hides it); on joining, the lines said in
the last hour before you came show first, under "Earlier in this chat".
As the server it also serves, on the chat's port, a page from which any
browser on the network joins the chat: "Join from a phone" in the
transcript's menu (Ctrl+J) shows its address and a QR code of it.

Options:
  --user-folder  run in $XDG_CONFIG_HOME/jaselo (~/.config/jaselo when
                 XDG_CONFIG_HOME is not set), made on first use, instead of
                 the current folder; the menu entry starts the program so
  --help         show this text and exit
  --version      show the version and exit

Exit status: 0 after the window closed; 1 when the network layer or the
per-user folder cannot be set up; 2 for a usage mistake.
)";
}
