#include "report.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "flooder.h"
#include "plan.h"
#include "plot.h"

namespace {
std::string Ms(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", v);
  return b;
}

std::string DescribeWorkload(const BenchOptions& o) {
  std::string workload;
  char b[256];
  if (o.workload == Workload::Steady) {
    std::snprintf(b, sizeof b, "steady, %g lines/s per client for %g s", o.rate, o.duration);
  } else if (o.workload == Workload::Bursty) {
    std::snprintf(b, sizeof b, "bursty, %d lines per client in bursts of %d, every %g s", o.lines, o.burst,
                  o.burstInterval);
  } else {
    std::snprintf(b, sizeof b, "idle, %g s", o.duration);
  }
  workload = b;
  if (o.flooders > 0) {
    std::snprintf(b, sizeof b, "; %d flooders at full speed, from %.0f s before", o.flooders, kFloodLeadNs / 1e9);
    workload += b;
  }
  if (o.rejoiner) workload += "; one more client leaves and joins again every second";
  return workload;
}

// "12 rejoins, list and 200 earlier lines in 61 / 98 ms (p50 / max)".
std::string DescribeRejoins(const Rejoins& r) {
  char b[160];
  const double p50 = r.answerMs.empty() ? 0 : Percentile(r.answerMs, .5);
  const double max = r.answerMs.empty() ? 0 : r.answerMs.back();
  std::snprintf(b, sizeof b, "%llu rejoins, %llu answered, list of %.0f and %.0f earlier lines in %.0f / %.0f ms",
                static_cast<unsigned long long>(r.joins), static_cast<unsigned long long>(r.answered), r.peoplePerJoin,
                r.earlierPerJoin, p50, max);
  return b;
}

double ServerCpu(const RunFigures& f) { return f.usage1.cpuSeconds - f.usage0.cpuSeconds; }

// Microseconds of server CPU per (line, receiver) delivered; negative when
// nothing was delivered.
double ServerCpuPerDelivery(const RunFigures& f) {
  if (f.report.delivered == 0) return -1;
  return ServerCpu(f) * 1e6 / static_cast<double>(f.report.delivered);
}

// How often the server's threads woke, per second of the workload; negative
// when unknown.
double ServerWakeups(const RunFigures& f) {
  if (f.usage0.contextSwitches < 0 || f.usage1.contextSwitches < 0 || f.workloadS <= 0) return -1;
  return static_cast<double>(f.usage1.contextSwitches - f.usage0.contextSwitches) / f.workloadS;
}

// Over the bursts: the slowest drain (negative when none drained), and
// whether every burst drained.
struct Drains {
  double worst = -1;
  bool complete = true;
};

Drains WorstDrains(const BenchOptions& o, const RunFigures& f) {
  Drains d;
  if (o.workload != Workload::Bursty) return d;
  for (size_t r = 0; r < f.bursts.roundBytes.size(); ++r) {
    const double measured = f.report.roundDrainMs[r];
    if (measured < 0) d.complete = false;
    d.worst = std::max(d.worst, measured);
  }
  return d;
}

void PrintSetting(const BenchOptions& o, const RunFigures& f) {
  std::printf("Jaselo relay benchmark\n");
  std::printf("  host                      %s\n", f.host.c_str());
  std::printf("  clients                   %d, %s%s\n", o.clients, o.tls ? "inside TLS 1.3" : "in plain text",
              o.websocket ? " over WebSocket" : "");
  std::printf("  workload                  %s\n", DescribeWorkload(o).c_str());
  if (o.workload != Workload::Idle) {
    std::printf("  line                      %d characters of text, %u bytes on the wire\n", o.textBytes,
                f.messageBytes);
  }
  std::printf("  machine                   %d cores, %s, %.1f GiB; load average %.2f before, %.2f after\n",
              f.machine.cores, f.machine.cpuModel.c_str(), f.machine.memGiB, f.loadBefore, f.loadAfter);
}

void PrintDelivery(const BenchOptions& o, const RunFigures& f) {
  const DeliveryReport& report = f.report;
  if (o.workload != Workload::Idle) {
    std::printf("Delivery\n");
    std::printf("  lines sent                %llu\n", static_cast<unsigned long long>(report.sent));
    if (report.sendFailed)
      std::printf("  send calls failed         %llu\n", static_cast<unsigned long long>(report.sendFailed));
    std::printf("  delivered to every client %llu\n", static_cast<unsigned long long>(report.deliveredToAll));
    std::printf("  deliveries                %llu of %llu\n", static_cast<unsigned long long>(report.delivered),
                static_cast<unsigned long long>(report.expected));
    std::printf("  lost                      %llu\n", static_cast<unsigned long long>(report.lost));
    std::printf("  duplicated                %llu\n", static_cast<unsigned long long>(report.duplicated));
    std::printf("  out of order per sender   %llu\n", static_cast<unsigned long long>(report.outOfOrder));
    if (report.stray) std::printf("  unreadable or unknown     %llu\n", static_cast<unsigned long long>(report.stray));
  }
  std::printf("  honest clients dropped    %zu\n", f.drops.honest);
  if (o.flooders > 0) {
    std::printf("Flood (in no statistic above)\n");
    std::printf(
        "  flooder lines sent        %llu, %d characters each (sends that returned: most wait in\n"
        "                            socket buffers until the host reads them)\n",
        static_cast<unsigned long long>(f.drops.floodSent), Flooder::kTextBytes);
    if (f.drops.floodFailed) {
      std::printf("  flooder sends failed      %llu\n", static_cast<unsigned long long>(f.drops.floodFailed));
    }
    std::printf("  shown to each honest one  %.0f on average\n", double(f.drops.floodSeen) / o.clients);
    std::printf("  flooders disconnected     %zu\n", f.drops.flooders);
  }
  if (o.rejoiner) {
    std::printf("Rejoining client (in no statistic above)\n");
    std::printf("  %s\n  (p50 / max from the connect call to the list's end)\n", DescribeRejoins(f.rejoins).c_str());
  }
}

void PrintLatency(const RunFigures& f) {
  const auto& m = f.report.latencyMs;
  if (m.empty()) return;
  std::printf("Latency, send call to the receiver's event (ms)\n");
  std::printf("                               p50      p90      p99      max\n");
  std::printf("  measured                %8.2f %8.2f %8.2f %8.2f\n", Percentile(m, .5), Percentile(m, .9),
              Percentile(m, .99), m.back());
}

void PrintBursts(const BenchOptions& o, const RunFigures& f) {
  if (o.workload != Workload::Bursty) return;
  std::printf("Bursts, first send of a burst to its last delivery at any client\n");
  for (size_t r = 0; r < f.bursts.roundBytes.size(); ++r) {
    const double measured = f.report.roundDrainMs[r];
    std::printf("  burst %-3d %6.0f bytes per receiver: %s ms\n", static_cast<int>(r) + 1, f.bursts.roundBytes[r],
                measured < 0 ? "incomplete" : Ms(measured).c_str());
  }
}

void PrintServer(const RunFigures& f) {
  const double serverCpu = ServerCpu(f);
  std::printf("Server, over the %.1f s of the workload\n", f.workloadS);
  if (f.usage1.ok) {
    std::printf("  CPU                       %.3f s = %.2f%% of one core", serverCpu, 100 * serverCpu / f.workloadS);
    if (ServerCpuPerDelivery(f) >= 0) std::printf("\n  CPU per delivery          %.2f µs", ServerCpuPerDelivery(f));
    if (ServerWakeups(f) >= 0) std::printf("\n  wake-ups                  %.2f a second", ServerWakeups(f));
    std::printf("\n  resident memory           %.1f MiB now, %.1f MiB peak\n", f.usage1.rssMiB, f.usage1.peakRssMiB);
    if (!f.rssTrail.empty()) {
      std::printf("  resident after N lines   ");
      for (const auto& [lines, rss] : f.rssTrail)
        std::printf(" %llu: %.1f MiB,", static_cast<unsigned long long>(lines), rss);
      std::printf(" %llu: %.1f MiB\n", static_cast<unsigned long long>(f.report.sent), f.usage1.rssMiB);
    }
  } else {
    std::printf("  (could not read the server's usage)\n");
  }
  std::printf("  this process              CPU %.2f s, peak resident %.1f MiB\n",
              f.self1.cpuSeconds - f.self0.cpuSeconds, f.self1.peakRssMiB);
}
}  // namespace

void PrintReport(const BenchOptions& o, const RunFigures& f) {
  PrintSetting(o, f);
  PrintDelivery(o, f);
  PrintLatency(f);
  PrintBursts(o, f);
  PrintServer(f);
}

void SaveLatencies(const BenchOptions& o, const RunFigures& f) {
  const auto& m = f.report.latencyMs;
  if (!o.samples.empty()) {
    std::ofstream out(o.samples);
    for (float v : m) out << v << '\n';
  }
  if (!o.plot.empty() && !m.empty()) {
    const std::string title = std::to_string(o.clients) + " clients, " + DescribeWorkload(o);
    std::string error;
    if (PlotLatency(o.plot, title, m, error)) {
      std::printf("  plot                      %s\n", o.plot.c_str());
    } else {
      std::fprintf(stderr, "jaselo-bench: %s\n", ("no plot: " + error).c_str());
    }
  }
}

void PrintRow(const BenchOptions& o, const RunFigures& f, double wallS) {
  // | host | clients | workload | sent | to all | lost | dup | order | dropped | p50 | p90 | p99 | max |
  // burst drain | server CPU | CPU per delivery | peak RSS | wake-ups/s | wall |
  const auto& m = f.report.latencyMs;
  const DeliveryReport& report = f.report;
  std::string burst = "–";
  if (o.workload == Workload::Bursty) {
    const Drains drains = WorstDrains(o, f);
    burst = drains.worst < 0 ? std::string("incomplete") : Ms(drains.worst) + " ms";
  }
  std::string latency[4] = {"–", "–", "–", "–"};
  if (!m.empty()) {
    latency[0] = Ms(Percentile(m, .5));
    latency[1] = Ms(Percentile(m, .9));
    latency[2] = Ms(Percentile(m, .99));
    latency[3] = Ms(m.back());
  }
  const double serverCpu = ServerCpu(f);
  char cpu[64];
  std::snprintf(cpu, sizeof cpu, "%.2f s (%.2f%%)", serverCpu, 100 * serverCpu / f.workloadS);
  char perDelivery[32] = "–";
  if (ServerCpuPerDelivery(f) >= 0) std::snprintf(perDelivery, sizeof perDelivery, "%.2f", ServerCpuPerDelivery(f));
  char wakeups[32] = "–";
  if (ServerWakeups(f) >= 0) std::snprintf(wakeups, sizeof wakeups, "%.2f", ServerWakeups(f));
  std::string rowWorkload = WorkloadName(o.workload) + std::string(o.tls ? ", TLS" : "");
  if (o.websocket) rowWorkload += " over WebSocket";
  if (o.flooders > 0) {
    rowWorkload += " + " + std::to_string(o.flooders) + " flooders (" + std::to_string(f.drops.floodSent) +
                   " lines sent, " + std::to_string(f.drops.floodSeen / static_cast<uint64_t>(o.clients)) +
                   " shown to each honest client, " + std::to_string(f.drops.flooders) + " disconnected)";
  }
  if (o.rejoiner) rowWorkload += " + 1 rejoining every second (" + DescribeRejoins(f.rejoins) + ")";
  std::printf(
      "ROW | %s | %d | %s | %llu | %llu | %llu | %llu | %llu | %zu | %s | %s | %s | %s | %s | %s | %s | %.1f | %s | "
      "%.1f |\n",
      o.host == HostMode::Process ? "process" : "external", o.clients, rowWorkload.c_str(),
      static_cast<unsigned long long>(report.sent), static_cast<unsigned long long>(report.deliveredToAll),
      static_cast<unsigned long long>(report.lost), static_cast<unsigned long long>(report.duplicated),
      static_cast<unsigned long long>(report.outOfOrder), f.drops.honest, latency[0].c_str(), latency[1].c_str(),
      latency[2].c_str(), latency[3].c_str(), burst.c_str(), cpu, perDelivery, f.usage1.peakRssMiB, wakeups, wallS);
}

bool Clean(const BenchOptions& o, const RunFigures& f) {
  const DeliveryReport& report = f.report;
  return report.lost == 0 && report.duplicated == 0 && report.outOfOrder == 0 && report.stray == 0 &&
         report.sendFailed == 0 && f.drops.honest == 0 && WorstDrains(o, f).complete;
}
