#pragma once
// Child processes with their standard input and output on pipes, read line by
// line without ever making the child wait.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A child with its standard input and output on pipes (or /dev/null).
struct Child {
  pid_t pid = -1;
  int in = -1;   // the child's standard input, ours to write
  int out = -1;  // the child's standard output, ours to read
};

// Starts argv[0] with the extra environment entries; stdout to a pipe or to
// /dev/null; stderr inherited or to /dev/null.
Child Spawn(const std::vector<std::string>& argv, bool readOutput, bool keepStderr,
            const std::vector<std::string>& extraEnv = {});
// Lines of a pipe, read in large pieces: a participant printing a flood of
// relayed lines must never wait for us.
class LineReader {
 public:
  explicit LineReader(int fd) : fd(fd) {}
  // One line without its newline; false at the end or on timeout.
  bool Next(std::string& line, std::chrono::milliseconds timeout);

 private:
  int fd;
  std::string pending;
  size_t start = 0;  // where the next line begins in pending
};
// Writes everything; false when the reader has gone.
bool WriteAll(int fd, const std::string& bytes);
void CloseFd(int& fd);
// The child's exit status once it ends within the timeout, else -1 (then killed).
int WaitExit(pid_t pid, std::chrono::milliseconds timeout);
bool IsRunning(pid_t pid);
