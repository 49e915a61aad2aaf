#pragma once
// Command line of the relay benchmark.

#include <cstdint>
#include <string>

enum class Workload { Steady, Bursty, Idle };
enum class HostMode { Process, External };

struct BenchOptions {
  int clients = 8;
  Workload workload = Workload::Steady;
  double rate = 2.0;            // steady: lines per second per client
  double duration = 10.0;       // steady and idle: seconds
  int lines = 20;               // bursty: lines per client in all
  int burst = 20;               // bursty: lines per burst, written back to back
  double burstInterval = 10.0;  // bursty: seconds between the starts of two bursts
  int textBytes = 32;           // characters of each line's text
  int flooders = 0;             // extra clients sending 900-character lines at full speed
  bool rejoiner = false;        // one more client that leaves and joins again every second
  HostMode host = HostMode::Process;
  std::string participant;  // headless host program; empty: next to this one
  uint16_t port = 0;        // external host: its port on 127.0.0.1
  std::string plot;         // PNG of the latency distribution
  std::string samples;      // raw latencies, one per line
  bool tls = false;         // the clients join inside TLS
  bool websocket = false;   // the honest clients join as browsers do
  bool row = false;         // also print one Markdown table row
  bool help = false;
};

// Fills `out` from argv; on a mistake returns false with a one-line reason.
bool ParseOptions(int argc, char** argv, BenchOptions& out, std::string& error);
const char* HelpText();
const char* WorkloadName(Workload w);
