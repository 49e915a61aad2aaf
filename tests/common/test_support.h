#pragma once
// Helpers shared by every test executable.

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Collects every diagnostic line written while it lives, instead of stdout.
class DiagCapture {
 public:
  DiagCapture();
  ~DiagCapture();
  DiagCapture(const DiagCapture&) = delete;
  DiagCapture& operator=(const DiagCapture&) = delete;

  // Everything written so far, in order, as one string.
  std::string Text() const;
  // How many times this exact text was written as one diagnostic.
  int Count(const std::string& line) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

// Polls `condition` until it holds or the deadline passes; returns its last value.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds deadline = std::chrono::milliseconds(5000));

// 127.0.0.1 on the port (0: any free one), for raw test sockets.
sockaddr_in Loopback(uint16_t port);

// A fresh empty directory under the system temp dir, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Host keys and the hosts met, of the tests and of every program they start,
// go to a folder of the run's own (XDG_DATA_HOME) while this lives, never to
// the user's data folder; files fetched and pasted go to its cache folder.
class PrivateDataFolder {
 public:
  PrivateDataFolder();

 private:
  TempDir dir;
};

// Whether a test that needs an outside program (a display server, a daemon)
// and cannot find it must fail instead of skipping: JASELO_REQUIRE_TOOLS=1,
// which the project's test command sets since it installs every such program.
bool ToolsRequired();

// Ends the running GoogleTest test for want of an outside program: skipped,
// with the reason, or failed where ToolsRequired().
#define SKIP_FOR_MISSING_TOOL(reason) \
  do {                                \
    if (ToolsRequired()) {            \
      GTEST_FAIL() << (reason);       \
    } else {                          \
      GTEST_SKIP() << (reason);       \
    }                                 \
  } while (0)
