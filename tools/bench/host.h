#pragma once
// The chat server under measurement: an endpoint in this process, or the
// headless host as a separate process.

#include <cstdint>
#include <memory>
#include <string>

struct ServerUsage {
  bool ok = false;
  double cpuSeconds = 0;       // the server's own CPU time so far
  double socketThreadCpu = -1; // in-process only: the split of cpuSeconds
  double pollLoopCpu = -1;
  double rssMiB = 0;           // resident now
  double peakRssMiB = 0;       // highest resident so far
  bool memoryIsWholeProcess = false;  // in-process: clients included
};

class Host {
 public:
  virtual ~Host() = default;
  virtual bool Start(std::string& error) = 0;
  virtual uint16_t Port() const = 0;
  virtual ServerUsage Sample() = 0;
  // Identified clients as the server sees them; -1 when it cannot be seen.
  virtual int IdentifiedClients() = 0;
  virtual void Stop() = 0;
  virtual std::string Describe() const = 0;
};

std::unique_ptr<Host> MakeInProcessHost();
std::unique_ptr<Host> MakeProcessHost(const std::string& program);
