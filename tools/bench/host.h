#pragma once
// The chat server under measurement: an endpoint in this process, or the
// headless host as a separate process.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ServerUsage {
  bool ok = false;
  double cpuSeconds = 0;        // the server's own CPU time so far
  double socketThreadCpu = -1;  // in-process only: the split of cpuSeconds
  double pollLoopCpu = -1;
  double rssMiB = 0;                  // resident now
  double peakRssMiB = 0;              // highest resident so far
  bool memoryIsWholeProcess = false;  // in-process: clients included
};

// When the host's poll loop relayed a line: seen only in-process, where the
// loop is ours to watch.
struct Relay {
  uint16_t sender;
  uint32_t seq;
  int64_t relayedNs;  // the relay's sends are done
  uint64_t pass;      // the poll loop's pass that relayed it
  uint32_t indexInPass;
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
  // After Stop: the relays seen, or null when the host cannot be watched.
  virtual const std::vector<Relay>* Relays() const { return nullptr; }
  virtual std::string Describe() const = 0;
};

std::unique_ptr<Host> MakeInProcessHost();
std::unique_ptr<Host> MakeProcessHost(const std::string& program);
std::unique_ptr<Host> MakeExternalHost(uint16_t port);
