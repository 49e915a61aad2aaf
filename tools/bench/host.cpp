#include "host.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "benchclock.h"
#include "chat/jaselonetwork.h"
#include "measuredendpoint.h"
#include "pollloop.h"
#include "procstat.h"

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

class InProcessHost : public Host {
 public:
  ~InProcessHost() override { Stop(); }

  bool Start(std::string& error) override {
    relays.reserve(1 << 16);
    if (!server.StartupServer()) {
      error = "the server endpoint did not start";
      return false;
    }
    server.ServerListen(0);
    if (!server.IsActive()) {
      error = "the server endpoint could not listen on a loopback port";
      return false;
    }
    loop.Begin();
    return true;
  }
  uint16_t Port() const override { return server.ListeningPort(); }

  ServerUsage Sample() override {
    ServerUsage u;
    clockid_t socketClock{}, loopClock{};
    if (server.CpuClock(socketClock)) u.socketThreadCpu = ThreadCpuSeconds(socketClock);
    if (loop.CpuClock(loopClock)) u.pollLoopCpu = ThreadCpuSeconds(loopClock);
    u.cpuSeconds = u.socketThreadCpu + u.pollLoopCpu;
    const ProcUsage p = ReadProcUsage(0);
    u.rssMiB = p.rssMiB;
    u.peakRssMiB = p.peakRssMiB;
    u.memoryIsWholeProcess = true;
    u.ok = p.ok && u.socketThreadCpu >= 0 && u.pollLoopCpu >= 0;
    return u;
  }
  int IdentifiedClients() override { return static_cast<int>(server.ClientTable().size()); }

  void Stop() override {
    loop.End();
    server.StopServer();
  }
  std::string Describe() const override { return "in-process (server endpoint and its poll loop in this process)"; }

  const std::vector<Relay>* Relays() const override { return &relays; }

 private:
  void OnEvent(ChatEvent& event) {
    const int64_t now = NowNs();
    unsigned sender = 0, seq = 0;
    const char* text = event.Text.get();
    if (event.Type == CHAT_SAYS && text != nullptr && std::sscanf(text, "J %u %u", &sender, &seq) == 2) {
      if (loop.Pass() != lastPass) {
        lastPass = loop.Pass();
        indexInPass = 0;
      }
      relays.push_back({static_cast<uint16_t>(sender), seq, now, lastPass, indexInPass++});
    }
    // The window drops the server endpoint's events unshown.
    event.Name.Reset();
    event.Text.Reset();
    event.Police.Reset();
  }

  MeasuredEndpoint server{"host-socket"};
  std::vector<Relay> relays;  // written by the poll loop only
  uint64_t lastPass = 0;
  uint32_t indexInPass = 0;
  PollLoop loop{server, "host-poll", [this](ChatEvent& event) { OnEvent(event); }};
};

class ProcessHost : public Host {
 public:
  explicit ProcessHost(std::string program) : program(std::move(program)) {}
  ~ProcessHost() override { Stop(); }

  bool Start(std::string& error) override {
    int out[2], in[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
      error = "pipe failed";
      return false;
    }
    if (pipe2(in, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      error = "pipe failed";
      return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // A measured host is nobody's chat: it stays off the network's list.
    std::string a0 = program, a1 = "--serve", a2 = "--port", a3 = "0", a4 = "--quiet", a5 = "--no-announce";
    char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), nullptr};
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input = in[1];
    output = out[0];
    if (rc != 0) {
      pid = -1;
      error = "could not run " + program + " (build it, or name it with --participant)";
      return false;
    }
    // Its first line names the port.
    std::string line;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      pollfd p{output, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
        error = "the host printed no LISTENING line within 10 s";
        return false;
      }
      char buffer[256];
      const ssize_t n = read(output, buffer, sizeof buffer);
      if (n <= 0) {
        error = "the host ended before listening";
        return false;
      }
      line.append(buffer, static_cast<size_t>(n));
    }
    unsigned p = 0;
    if (std::sscanf(line.c_str(), "LISTENING %u", &p) != 1 || p == 0 || p > 65535) {
      error = "unexpected first line from the host: " + line.substr(0, line.find('\n'));
      return false;
    }
    port = static_cast<uint16_t>(p);
    // Whatever else it prints is read and dropped, so it never blocks on a full pipe.
    drainer = std::thread([fd = output] {
      char buffer[4096];
      while (read(fd, buffer, sizeof buffer) > 0) {
      }
    });
    return true;
  }
  uint16_t Port() const override { return port; }

  ServerUsage Sample() override {
    ServerUsage u;
    if (pid <= 0) return u;
    const ProcUsage p = ReadProcUsage(pid);
    u.ok = p.ok;
    u.cpuSeconds = p.cpuSeconds;
    u.rssMiB = p.rssMiB;
    u.peakRssMiB = p.peakRssMiB;
    return u;
  }
  int IdentifiedClients() override { return -1; }

  void Stop() override {
    if (input >= 0) {
      close(input);  // end of input: the host says goodbye and exits
      input = -1;
    }
    if (pid > 0) {
      if (!Reap(std::chrono::seconds(5))) {
        kill(pid, SIGTERM);
        if (!Reap(std::chrono::seconds(2))) {
          kill(pid, SIGKILL);
          Reap(std::chrono::seconds(2));
        }
      }
      pid = -1;
    }
    if (drainer.joinable()) drainer.join();
    if (output >= 0) {
      close(output);
      output = -1;
    }
  }
  std::string Describe() const override { return "separate process (" + program + " --serve)"; }

 private:
  bool Reap(std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    do {
      int status = 0;
      const pid_t r = waitpid(pid, &status, WNOHANG);
      if (r == pid || r < 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    } while (Clock::now() < deadline);
    return false;
  }

  std::string program;
  pid_t pid = -1;
  int input = -1;
  int output = -1;
  uint16_t port = 0;
  std::thread drainer;
};
class ExternalHost : public Host {
 public:
  explicit ExternalHost(uint16_t port) : port(port) {}
  bool Start(std::string&) override { return true; }
  uint16_t Port() const override { return port; }
  ServerUsage Sample() override { return {}; }
  int IdentifiedClients() override { return -1; }
  void Stop() override {}
  std::string Describe() const override { return "external, 127.0.0.1:" + std::to_string(port) + " (not measured)"; }

 private:
  uint16_t port;
};
}  // namespace

std::unique_ptr<Host> MakeExternalHost(uint16_t port) { return std::make_unique<ExternalHost>(port); }
std::unique_ptr<Host> MakeInProcessHost() { return std::make_unique<InProcessHost>(); }
std::unique_ptr<Host> MakeProcessHost(const std::string& program) { return std::make_unique<ProcessHost>(program); }
