#pragma once
// The program's command line. It is read before anything else happens, so
// that --help, --version and a mistake never open a window or touch config.cfg.

#include <string>

struct CommandLine {
  enum class Action { Run, Help, Version, UsageError };
  Action action = Action::Run;
  // Run in the per-user folder instead of the current one (the menu entry).
  bool userFolder = false;
  std::string error;  // for UsageError: one line saying what is wrong
};

CommandLine ParseCommandLine(int argc, const char* const* argv);

// The --help text.
const char* UsageText();
