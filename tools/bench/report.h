#pragma once
// What one run measured, and how it is printed: the report, the Markdown
// table row, the raw samples and the plot.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis.h"
#include "host.h"
#include "options.h"
#include "procstat.h"

// Per round of the workload: the bytes each receiver gets.
struct Bursts {
  std::vector<double> roundBytes;
};

struct Drops {
  size_t honest = 0;    // honest clients dropped
  size_t flooders = 0;  // flooders disconnected
  uint64_t floodSent = 0;
  uint64_t floodFailed = 0;
  uint64_t floodSeen = 0;  // flooders' lines shown, summed over the honest clients
};

// What the client that leaves and joins again every second got.
struct Rejoins {
  uint64_t joins = 0;
  uint64_t answered = 0;
  double peoplePerJoin = 0;
  double earlierPerJoin = 0;
  std::vector<float> answerMs;  // sorted
};

struct RunFigures {
  std::string host;  // the host's description
  MachineInfo machine;
  double loadBefore = 0;
  double loadAfter = 0;
  uint32_t messageBytes = 0;  // one line on the wire
  Bursts bursts;
  Drops drops;
  Rejoins rejoins;
  ProcUsage usage0, usage1;  // the server at the workload's start and end
  // The server's resident memory once the workload had sent so many lines
  // (the first count twice the lines a host keeps), for long runs.
  std::vector<std::pair<uint64_t, double>> rssTrail;
  ProcUsage self0, self1;  // this process, the same
  double workloadS = 0;    // the workload and its drain
  DeliveryReport report;   // its latencies sorted
};

// The report, from the set-up to this process's usage.
void PrintReport(const BenchOptions& o, const RunFigures& f);
// --samples and --plot; a plot that fails is said on standard error.
void SaveLatencies(const BenchOptions& o, const RunFigures& f);
// --row: the run as one Markdown table row.
void PrintRow(const BenchOptions& o, const RunFigures& f, double wallS);
// Every honest line reached every honest receiver once and in order, no
// honest client was dropped and every burst drained.
bool Clean(const BenchOptions& o, const RunFigures& f);
