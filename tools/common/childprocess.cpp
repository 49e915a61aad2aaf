#include "childprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>
#include <utility>

extern char** environ;

namespace {
// Both ends of a pipe, closed unless taken.
struct Pipe {
  int ends[2] = {-1, -1};
  ~Pipe() {
    for (int& fd : ends) CloseFd(fd);
  }
};
}  // namespace

Child Spawn(const std::vector<std::string>& argv, bool readOutput, bool keepStderr,
            const std::vector<std::string>& extraEnv) {
  Pipe in, out;
  if (pipe2(in.ends, O_CLOEXEC) != 0 || (readOutput && pipe2(out.ends, O_CLOEXEC) != 0)) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.ends[0], 0);
  if (readOutput) posix_spawn_file_actions_adddup2(&actions, out.ends[1], 1);
  else posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  if (!keepStderr) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) envStrings.emplace_back(*e);
  for (const auto& e : extraEnv) envStrings.push_back(e);
  std::vector<char*> env;
  for (auto& e : envStrings) env.push_back(e.data());
  env.push_back(nullptr);

  Child child;
  const bool spawned = posix_spawn(&child.pid, args[0], &actions, nullptr, args.data(), env.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned) return {};
  // The child's ends close with the pipes; ours are the caller's.
  child.in = std::exchange(in.ends[1], -1);
  child.out = std::exchange(out.ends[0], -1);
  return child;
}

bool LineReader::Next(std::string& line, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const size_t end = pending.find('\n', start);
    if (end != std::string::npos) {
      line.assign(pending, start, end - start);
      start = end + 1;
      return true;
    }
    // Lines taken are dropped only once no whole line is left: one move per
    // read instead of one per line, which a flood of long lines would feel.
    pending.erase(0, start);
    start = 0;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char chunk[65536];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    pending.append(chunk, static_cast<size_t>(n));
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void CloseFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (r < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

bool IsRunning(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}
