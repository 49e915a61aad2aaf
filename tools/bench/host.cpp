#include "host.h"

#include <chrono>

#include "headlesshost.h"
#include "temporaryfolder.h"

namespace {

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

  ProcUsage Sample() override { return host.Pid() > 0 ? ReadProcUsage(host.Pid()) : ProcUsage{}; }

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
  ProcUsage Sample() override { return {}; }
  void Stop() override {}
  std::string Describe() const override { return "external, 127.0.0.1:" + std::to_string(port) + " (not measured)"; }

 private:
  uint16_t port;
};
}  // namespace

std::unique_ptr<Host> MakeExternalHost(uint16_t port) { return std::make_unique<ExternalHost>(port); }
std::unique_ptr<Host> MakeProcessHost(const std::string& program) { return std::make_unique<ProcessHost>(program); }
