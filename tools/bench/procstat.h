#pragma once
// Readings of CPU time, memory, open files and wake-ups from /proc, and a
// description of the machine: the benchmark and the fault suite read a
// process the same way.

#include <sys/types.h>

#include <string>

struct ProcUsage {
  bool ok = false;
  double cpuSeconds = 0;  // user + system
  double rssMiB = 0;      // resident now (VmRSS)
  double peakRssMiB = 0;  // highest resident so far (VmHWM)
  int fds = 0;            // open file descriptors
  // Voluntary and involuntary context switches summed over the threads alive
  // now: how often they woke. Negative when unknown.
  long long contextSwitches = -1;
};

// pid 0 reads this process.
ProcUsage ReadProcUsage(pid_t pid);

struct MachineInfo {
  int cores = 0;
  std::string cpuModel;
  double memGiB = 0;
};
MachineInfo ReadMachineInfo();
// The 1-minute load average: how busy the shared machine was.
double LoadAverage();
