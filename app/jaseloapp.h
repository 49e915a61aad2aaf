#pragma once
// The application object: runs the whole program from InitInstance.

#include <string>

class CJaseloApp {
 public:
  CJaseloApp() = default;
  virtual ~CJaseloApp() = default;
  CJaseloApp(const CJaseloApp&) = delete;
  CJaseloApp& operator=(const CJaseloApp&) = delete;

  // Starts the sockets, runs the chat window modally and writes the settings
  // once it has ended. Always false: the program ends when it returns.
  virtual bool InitInstance();
  // The process's exit status once InitInstance has returned.
  int ExitCode() const { return exitCode; }

 protected:
  // Program-level socket start; tests replace it to take the failure path.
  virtual bool StartSockets();

 private:
  int exitCode = 0;
};
