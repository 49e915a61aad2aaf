#include "host.h"

#include <pthread.h>

#include <chrono>
#include <cstdio>

#include "benchclock.h"
#include "chat/jaselonetwork.h"
#include "headlesshost.h"
#include "measuredendpoint.h"
#include "pollloop.h"
#include "procstat.h"
#include "temporaryfolder.h"
#include "trust/hostidentity.h"

namespace {

class InProcessHost : public Host {
 public:
  ~InProcessHost() override { Stop(); }

  bool Start(std::string& error) override {
    relays.reserve(1 << 16);
    HostIdentity identity;
    std::string why;
    if (!MakeHostIdentity(identity) || !(security.tls = TlsContext::ForHost(identity, why))) {
      error = "no host key could be made: " + why;
      return false;
    }
    server.SetHostSecurity(security);
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

  HostSecurity security;
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

  // The host's key goes to a folder of the run's own.
  bool Start(std::string& error) override {
    // A room of native clients and as many browsers start at once from here.
    return host.Start(program, {.extraEnv = {"XDG_DATA_HOME=" + data.Path()}, .connectRate = 10000}, error);
  }
  uint16_t Port() const override { return host.Port(); }

  ServerUsage Sample() override {
    ServerUsage u;
    if (host.Pid() <= 0) return u;
    const ProcUsage p = ReadProcUsage(host.Pid());
    u.ok = p.ok;
    u.cpuSeconds = p.cpuSeconds;
    u.rssMiB = p.rssMiB;
    u.peakRssMiB = p.peakRssMiB;
    return u;
  }
  int IdentifiedClients() override { return -1; }

  // End of input: the host says goodbye and exits.
  void Stop() override { host.Stop(std::chrono::seconds(5)); }
  std::string Describe() const override { return "separate process (" + program + " --serve)"; }

 private:
  std::string program;
  TemporaryFolder data;
  HeadlessHost host;
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
