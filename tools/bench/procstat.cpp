#include "procstat.h"

#include <dirent.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace {
std::string ProcPath(pid_t pid, const char* file) {
  return (pid == 0 ? std::string("/proc/self/") : "/proc/" + std::to_string(pid) + "/") + file;
}

// A "Key:   123 kB" line of a status file, in MiB; negative when absent.
double StatusMiB(const std::string& status, const std::string& key) {
  const size_t at = status.find("\n" + key + ":");
  if (at == std::string::npos) return -1;
  std::istringstream in(status.substr(at + key.size() + 2));
  double kib = 0;
  in >> kib;
  return kib / 1024.0;
}
// Over every thread of the process alive now: the run time, from schedstat,
// and the times it was switched out (each a wake-up to come), from status.
struct ThreadSums {
  double seconds = -1;
  long long switches = -1;
};

ThreadSums SumThreads(pid_t pid) {
  const std::string dir = ProcPath(pid, "task");
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return {};
  unsigned long long ns = 0;
  long long switches = 0;
  bool any = false;
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    const std::string task = dir + "/" + e->d_name;
    std::ifstream sched(task + "/schedstat");
    unsigned long long taskNs = 0;
    if (sched >> taskNs) {
      ns += taskNs;
      any = true;
    }
    std::ifstream status(task + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) switches += std::stoll(line.substr(line.find(':') + 1));
    }
  }
  closedir(d);
  if (!any) return {};
  return {static_cast<double>(ns) / 1e9, switches};
}
}  // namespace

ProcUsage ReadProcUsage(pid_t pid) {
  ProcUsage u;
  std::ifstream statFile(ProcPath(pid, "stat"));
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  // The command name may hold spaces and parentheses: fields start after the last ')'.
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return u;
  std::istringstream fields(stat.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) utime = std::stoull(field);
    if (i == 15) stime = std::stoull(field);
  }
  u.cpuSeconds = static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
  // The scheduler's own account is exact to the nanosecond, where the ticks
  // above count in 10 ms steps; it covers the threads alive now.
  const ThreadSums threads = SumThreads(pid);
  if (threads.seconds >= 0) u.cpuSeconds = threads.seconds;
  u.contextSwitches = threads.switches;

  std::ifstream statusFile(ProcPath(pid, "status"));
  const std::string status =
      "\n" + std::string((std::istreambuf_iterator<char>(statusFile)), std::istreambuf_iterator<char>());
  u.rssMiB = StatusMiB(status, "VmRSS");
  u.peakRssMiB = StatusMiB(status, "VmHWM");
  u.ok = u.rssMiB >= 0 && u.peakRssMiB >= 0;

  if (DIR* d = opendir(ProcPath(pid, "fd").c_str())) {
    while (const dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++u.fds;
    }
    closedir(d);
  }
  return u;
}

MachineInfo ReadMachineInfo() {
  MachineInfo m;
  m.cores = static_cast<int>(std::thread::hardware_concurrency());
  std::ifstream cpuinfo("/proc/cpuinfo");
  for (std::string line; std::getline(cpuinfo, line);) {
    if (line.rfind("model name", 0) == 0) {
      const size_t colon = line.find(':');
      if (colon != std::string::npos) m.cpuModel = line.substr(colon + 2);
      break;
    }
  }
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  double kib = 0;
  if (meminfo >> key >> kib) m.memGiB = kib / 1024.0 / 1024.0;
  return m;
}

double LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double load = -1;
  in >> load;
  return load;
}
