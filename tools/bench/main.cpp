// The relay benchmark: a real server endpoint and N real client endpoints
// over loopback, each drained by a poll loop like the chat window's, driven
// by a steady, bursty or idle workload, optionally beside clients that flood
// the host. Reports delivery, end-to-end latency against the loop floor, and
// the server's CPU time and memory.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis.h"
#include "benchclock.h"
#include "chat/jaselonetwork.h"
#include "flooder.h"
#include "floormodel.h"
#include "host.h"
#include "measuredendpoint.h"
#include "options.h"
#include "outgoingline.h"
#include "plot.h"
#include "pollloop.h"
#include "procstat.h"
#include "protocol/diagnostics.h"
#include "protocol/messages.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

void SleepUntilNs(int64_t ns) { std::this_thread::sleep_until(BenchEpoch() + std::chrono::nanoseconds(ns)); }

// Departures of bench clients that somebody heard while the workload ran.
struct Departures {
  std::mutex mutex;
  std::set<std::string> names;
  std::atomic<bool> recording{false};
};

// Reads "J <sender> <seq> <send ns>" from the front of a line's text.
bool ParseLine(const char* text, Delivery& d) {
  if (text == nullptr || text[0] != 'J' || text[1] != ' ') return false;
  const char* p = text + 2;
  const char* end = p + std::strlen(p);
  auto next = [&](auto& value) {
    const auto [ptr, ec] = std::from_chars(p, end, value);
    if (ec != std::errc()) return false;
    p = ptr < end ? ptr + 1 : ptr;
    return true;
  };
  return next(d.sender) && next(d.seq) && next(d.sendNs);
}

// One client endpoint with its own poll loop, recording what it is shown.
class Receiver {
 public:
  Receiver(int index, size_t expected, Departures& departures)
      : nick("bench" + std::to_string(index)), departures(departures), line(nick) {
    deliveries.reserve(expected);
  }

  // The window starts its poll loop right after connecting; `pollDelay`
  // (--stagger) moves the loop to another phase of the socket thread's pass.
  bool Join(uint16_t port, std::chrono::microseconds pollDelay) {
    if (!network.StartupClient(nick.c_str()) || !network.ClientConnect("127.0.0.1", port)) return false;
    if (pollDelay.count() > 0) std::this_thread::sleep_for(pollDelay);
    loop.Begin();
    return true;
  }

  // From the sending thread, as the window's Send does from its own.
  bool Say(const std::string& text) { return network.SendChatMessage(line.With(text)); }
  uint32_t MessageBytes(const std::string& text) { return line.Bytes(text); }

  void AskToHalt() { loop.AskToHalt(); }
  void Halt() { loop.Halt(); }

  const std::string nick;
  std::vector<Delivery> deliveries;  // written by the poll loop only
  std::atomic<uint64_t> delivered{0};
  std::atomic<uint64_t> joins{0};
  std::atomic<uint64_t> warmups{0};
  std::atomic<uint64_t> floodLines{0};  // the flooders' lines it was shown
  MeasuredEndpoint network{"client-socket"};

 private:
  void OnEvent(ChatEvent& event) {
    const int64_t now = NowNs();
    switch (event.Type) {
      case CHAT_SAYS: {
        Delivery d{};
        if (ParseLine(event.Text.get(), d)) {
          d.receivedNs = now;
          deliveries.push_back(d);
          ++delivered;
        } else if (event.Text.get() != nullptr && event.Text.get()[0] == 'W') {
          ++warmups;
        } else if (event.Text.get() != nullptr && event.Text.get()[0] == 'F') {
          ++floodLines;
        }
        break;
      }
      case CHAT_JOINED:
        ++joins;
        break;
      case CHAT_DISCONNECTED:
        if (departures.recording && event.Name.get() != nullptr) {
          std::lock_guard<std::mutex> guard(departures.mutex);
          departures.names.insert(event.Name.get());
        }
        break;
      default:
        break;
    }
    // The window releases each event's strings once shown.
    event.Name.Reset();
    event.Text.Reset();
    event.Police.Reset();
  }

  Departures& departures;
  OutgoingLine line;  // touched by the sending thread only
  // Last, so that it stops first: its thread uses everything above.
  PollLoop loop{network, "client-poll", [this](ChatEvent& event) { OnEvent(event); }};
};

struct Planned {
  int64_t atNs;
  int sender;
  uint32_t seq;
  int round;
};

// A line's text: its identity and send time, padded to the chosen size.
std::string LineText(int sender, uint32_t seq, int64_t sendNs, int textBytes) {
  std::string text = "J " + std::to_string(sender) + " " + std::to_string(seq) + " " + std::to_string(sendNs) + " ";
  if (static_cast<int>(text.size()) < textBytes) text.append(static_cast<size_t>(textBytes) - text.size(), 'x');
  return text;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds within) {
  const auto deadline = Clock::now() + within;
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

std::string ProgramDirectory() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  std::string p(path, static_cast<size_t>(n));
  const size_t slash = p.rfind('/');
  return slash == std::string::npos ? "." : p.substr(0, slash);
}

// Flooders start this long before the workload, so that its lines meet a
// flood in full swing, and stop at its end, or this long after its last
// planned line at the latest.
constexpr int64_t kFloodLeadNs = 2'000'000'000;
constexpr int64_t kFloodTailNs = 10'000'000'000;
// At full speed a flooder's lines are taken at about one a host pass; the
// cap only keeps a runaway count bounded.
constexpr uint64_t kFloodLineCap = 1'000'000;

void Fail(const std::string& what) { std::fprintf(stderr, "jaselo-bench: %s\n", what.c_str()); }

std::string Ms(double v) {
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", v);
  return b;
}
}  // namespace

int main(int argc, char** argv) {
  BenchEpoch();  // the run's time counts from here
  BenchOptions o;
  std::string error;
  if (!ParseOptions(argc, argv, o, error)) {
    Fail(error);
    return 2;
  }
  if (o.help) {
    std::fputs(HelpText(), stdout);
    return 0;
  }
  // The library reports every received block; that would drown the figures.
  SetDiagSink([](std::string_view) {});

  const MachineInfo machine = ReadMachineInfo();
  const double loadBefore = LoadAverage();
  const int n = o.clients;

  // The plan: who sends which line when, relative to the workload's start.
  std::vector<Planned> plan;
  uint32_t perSender = 0;
  int rounds = 1;
  if (o.workload == Workload::Steady) {
    perSender = static_cast<uint32_t>(std::max(1.0, std::round(o.rate * o.duration)));
    const double period = 1e9 / o.rate;
    for (uint32_t k = 0; k < perSender; ++k) {
      for (int i = 0; i < n; ++i) {
        plan.push_back({static_cast<int64_t>(k * period + i * period / n), i, k + 1, 0});
      }
    }
  } else if (o.workload == Workload::Bursty) {
    perSender = static_cast<uint32_t>(o.lines);
    rounds = (o.lines + o.burst - 1) / o.burst;
    for (int r = 0; r < rounds; ++r) {
      for (int i = 0; i < n; ++i) {
        for (int b = 0; b < o.burst; ++b) {
          const uint32_t seq = static_cast<uint32_t>(r * o.burst + b + 1);
          if (seq > perSender) break;
          plan.push_back({static_cast<int64_t>(r * o.burstInterval * 1e9), i, seq, r});
        }
      }
    }
  }
  std::stable_sort(plan.begin(), plan.end(), [](const Planned& a, const Planned& b) { return a.atNs < b.atNs; });

  std::unique_ptr<Host> host;
  if (o.host == HostMode::InProcess) {
    host = MakeInProcessHost();
  } else if (o.host == HostMode::External) {
    host = MakeExternalHost(o.port);
  } else {
    host = MakeProcessHost(o.participant.empty() ? ProgramDirectory() + "/jaselo-participant" : o.participant);
  }
  if (!host->Start(error)) {
    Fail(error);
    return 2;
  }

  // Clients join a few at a time: the server accepts one connection per pass
  // and its backlog holds five, so a crowd would only wait for SYN retries.
  // The flooders join last.
  Departures departures;
  std::vector<std::unique_ptr<Receiver>> receivers;
  std::vector<std::unique_ptr<Flooder>> flooders;
  const int endpoints = n + o.flooders;
  const int64_t setupStart = NowNs();
  std::mt19937 staggerRng(o.seed);
  bool setupOk = true;
  for (int i = 0; i < endpoints && setupOk; ++i) {
    if (i >= 5) {
      setupOk = WaitFor([&] { return receivers[0]->joins.load() + 4 >= static_cast<uint64_t>(i); }, 15s);
      if (!setupOk) error = "client " + std::to_string(i) + " was not let in within 15 s";
    }
    if (!setupOk) break;
    bool joined = false;
    if (i < n) {
      receivers.push_back(std::make_unique<Receiver>(i, static_cast<size_t>(perSender) * n, departures));
      const auto pollDelay = o.stagger ? std::chrono::microseconds(staggerRng() % (kPassNs / 1000)) : 0us;
      joined = receivers.back()->Join(host->Port(), pollDelay);
    } else {
      flooders.push_back(std::make_unique<Flooder>(i - n));
      joined = flooders.back()->Join(host->Port());
    }
    if (!joined) {
      setupOk = false;
      error = "client " + std::to_string(i) + " could not connect";
    }
  }
  if (setupOk) {
    setupOk = WaitFor([&] { return receivers[0]->joins.load() + 1 >= static_cast<uint64_t>(endpoints); }, 15s);
    if (!setupOk) error = "not every client was identified within 15 s";
  }
  // A first line from everybody proves every client is on the relay path.
  if (setupOk) {
    for (int i = 0; i < n; ++i) receivers[i]->Say("W " + std::to_string(i));
    setupOk = WaitFor(
        [&] {
          for (const auto& r : receivers) {
            if (r->warmups.load() < static_cast<uint64_t>(n)) return false;
          }
          return true;
        },
        10s);
    if (!setupOk) error = "the warm-up lines did not reach every client within 10 s";
  }
  if (!setupOk) {
    Fail(error);
    for (auto& r : receivers) r->Halt();
    flooders.clear();
    host->Stop();
    return 2;
  }
  const int64_t setupNs = NowNs() - setupStart;

  // The workload, the flood already running.
  departures.recording = true;
  const int64_t start = NowNs() + (flooders.empty() ? 0 : kFloodLeadNs) + 20'000'000;
  const int64_t lastPlannedNs = plan.empty() ? static_cast<int64_t>(o.duration * 1e9) : plan.back().atNs;
  for (auto& f : flooders) f->Begin(start + lastPlannedNs + kFloodTailNs, kFloodLineCap);
  SleepUntilNs(start - 20'000'000);
  const ServerUsage usage0 = host->Sample();
  const ProcUsage self0 = ReadProcUsage(0);
  std::vector<SentLine> sent(static_cast<size_t>(perSender) * n);
  int64_t lastSendNs = start;
  for (const Planned& p : plan) {
    SleepUntilNs(start + p.atNs);
    Receiver& r = *receivers[p.sender];
    const int64_t at = NowNs();
    const std::string text = LineText(p.sender, p.seq, at, o.textBytes);
    SentLine& s = sent[static_cast<size_t>(p.sender) * perSender + (p.seq - 1)];
    s = {p.sender, p.seq, at, r.MessageBytes(text), p.round, false};
    s.ok = r.Say(text);
    lastSendNs = at;
  }
  uint64_t expectedEach = 0;
  for (const auto& s : sent) expectedEach += s.ok ? 1 : 0;

  // Per round: the bytes each receiver gets, and the most one sender wrote.
  std::vector<double> roundBytes(static_cast<size_t>(rounds), 0.0);
  std::vector<std::vector<double>> senderBytes(static_cast<size_t>(rounds), std::vector<double>(n, 0.0));
  for (const auto& s : sent) {
    if (!s.ok) continue;
    roundBytes[s.round] += s.bytes;
    senderBytes[s.round][s.sender] += s.bytes;
  }
  std::vector<double> roundBoundMs(static_cast<size_t>(rounds), 0.0);
  double burstBoundMs = 0;
  for (int r = 0; r < rounds; ++r) {
    const double most = *std::max_element(senderBytes[r].begin(), senderBytes[r].end());
    roundBoundMs[r] = BurstBoundMs(most, roundBytes[r]);
    burstBoundMs = std::max(burstBoundMs, roundBoundMs[r]);
  }

  if (o.workload == Workload::Idle) {
    SleepUntilNs(start + static_cast<int64_t>(o.duration * 1e9));
  } else {
    // Until every receiver has every line, or nothing has moved for 5 s, or
    // far past anything the loops allow.
    const int64_t hardStop = lastSendNs + static_cast<int64_t>(std::max(10000.0, 3 * burstBoundMs) * 1e6);
    uint64_t lastTotal = 0;
    int64_t lastProgress = NowNs();
    for (;;) {
      uint64_t total = 0, complete = 0;
      for (const auto& r : receivers) {
        const uint64_t d = r->delivered.load();
        total += d;
        complete += d >= expectedEach ? 1 : 0;
      }
      const int64_t now = NowNs();
      if (complete == receivers.size() || now > hardStop) break;
      if (total != lastTotal) {
        lastTotal = total;
        lastProgress = now;
      } else if (now - lastProgress > 5'000'000'000) {
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
  }
  const int64_t endNs = NowNs();
  const ServerUsage usage1 = host->Sample();
  const ProcUsage self1 = ReadProcUsage(0);
  departures.recording = false;

  // Clients dropped: by their own endpoint, by what others heard, by the
  // server's table; the honest ones and the flooders apart.
  std::set<std::string> dropped, floodersDropped;
  for (const auto& r : receivers) {
    if (!r->network.IsActive()) dropped.insert(r->nick);
  }
  for (const auto& f : flooders) {
    if (!f->Connected()) floodersDropped.insert(f->nick);
  }
  {
    std::lock_guard<std::mutex> guard(departures.mutex);
    for (const std::string& name : departures.names) {
      (name.rfind("flood", 0) == 0 ? floodersDropped : dropped).insert(name);
    }
  }
  const int identified = host->IdentifiedClients();
  const size_t missing = identified < 0 ? 0 : static_cast<size_t>(std::max(0, endpoints - identified));
  const size_t droppedCount = std::max(dropped.size(), missing - std::min(missing, floodersDropped.size()));
  uint64_t floodSent = 0, floodFailed = 0, floodSeen = 0;
  for (const auto& f : flooders) {
    floodSent += f->Sent();
    floodFailed += f->Failed();
  }
  for (const auto& r : receivers) floodSeen += r->floodLines.load();
  // Only now: their departures are not drops.
  for (auto& f : flooders) f->Finish();

  const double loadAfter = LoadAverage();
  const int64_t teardownStart = NowNs();
  for (auto& r : receivers) r->AskToHalt();
  for (auto& f : flooders) f->AskToHalt();
  for (auto& r : receivers) r->Halt();
  flooders.clear();
  host->Stop();
  const int64_t teardownNs = NowNs() - teardownStart;

  std::vector<const std::vector<Delivery>*> views;
  for (const auto& r : receivers) views.push_back(&r->deliveries);
  DeliveryReport report = Analyse(sent, n, perSender, rounds, views);

  // In-process, the host's poll loop noted each relay: the latency splits at it.
  std::vector<float> upMs, downFirstMs, downLaterMs;
  if (const std::vector<Relay>* relays = host->Relays()) {
    std::vector<const Relay*> relayOf(sent.size(), nullptr);
    for (const Relay& r : *relays) {
      if (r.sender < n && r.seq >= 1 && r.seq <= perSender) {
        const size_t id = static_cast<size_t>(r.sender) * perSender + (r.seq - 1);
        if (relayOf[id] == nullptr) relayOf[id] = &r;
      }
    }
    for (size_t id = 0; id < sent.size(); ++id) {
      if (relayOf[id] != nullptr) upMs.push_back(static_cast<float>((relayOf[id]->relayedNs - sent[id].sendNs) / 1e6));
    }
    for (const auto* deliveries : views) {
      for (const Delivery& d : *deliveries) {
        if (d.sender >= n || d.seq < 1 || d.seq > perSender) continue;
        const Relay* r = relayOf[static_cast<size_t>(d.sender) * perSender + (d.seq - 1)];
        if (r == nullptr) continue;
        (r->indexInPass == 0 ? downFirstMs : downLaterMs).push_back(static_cast<float>((d.receivedNs - r->relayedNs) / 1e6));
      }
    }
  }
  const int64_t clientsStop = NowNs();
  receivers.clear();
  const int64_t clientsStopNs = NowNs() - clientsStop;
  std::sort(report.latencyMs.begin(), report.latencyMs.end());

  std::vector<FloorLine> floorLines;
  for (const auto& s : sent) {
    if (s.ok) floorLines.push_back({s.sender, s.sendNs, s.bytes, s.round});
  }
  std::stable_sort(floorLines.begin(), floorLines.end(),
                   [](const FloorLine& a, const FloorLine& b) { return a.sendNs < b.sendNs; });
  FloorResult floor = ReplayFloor(floorLines, n, n, rounds, o.seed, o.flooders > 0);
  for (auto* v : {&floor.latencyMs, &floor.upstreamMs, &floor.downstreamFirstMs, &floor.downstreamLaterMs, &upMs,
                  &downFirstMs, &downLaterMs}) {
    std::sort(v->begin(), v->end());
  }

  // The report.
  const double workloadS = (endNs - start) / 1e9;
  const uint32_t messageBytes = sent.empty() ? 0 : sent.front().bytes;
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

  std::printf("Jaselo relay benchmark\n");
  std::printf("  host                      %s\n", host->Describe().c_str());
  std::printf("  clients                   %d%s\n", n,
              o.stagger ? ", each poll loop started at a random point of its socket thread's pass" : "");
  std::printf("  workload                  %s\n", workload.c_str());
  if (o.workload != Workload::Idle) {
    std::printf("  line                      %d characters of text, %u bytes on the wire\n", o.textBytes, messageBytes);
  }
  std::printf("  machine                   %d cores, %s, %.1f GiB; load average %.2f before, %.2f after\n",
              machine.cores, machine.cpuModel.c_str(), machine.memGiB, loadBefore, loadAfter);

  if (o.workload != Workload::Idle) {
    std::printf("Delivery\n");
    std::printf("  lines sent                %llu\n", static_cast<unsigned long long>(report.sent));
    if (report.sendFailed) std::printf("  send calls failed         %llu\n", static_cast<unsigned long long>(report.sendFailed));
    std::printf("  delivered to every client %llu\n", static_cast<unsigned long long>(report.deliveredToAll));
    std::printf("  deliveries                %llu of %llu\n", static_cast<unsigned long long>(report.delivered),
                static_cast<unsigned long long>(report.expected));
    std::printf("  lost                      %llu\n", static_cast<unsigned long long>(report.lost));
    std::printf("  duplicated                %llu\n", static_cast<unsigned long long>(report.duplicated));
    std::printf("  out of order per sender   %llu\n", static_cast<unsigned long long>(report.outOfOrder));
    if (report.stray) std::printf("  unreadable or unknown     %llu\n", static_cast<unsigned long long>(report.stray));
  }
  std::printf("  honest clients dropped    %zu\n", droppedCount);
  if (o.flooders > 0) {
    std::printf("Flood (in no statistic above)\n");
    std::printf("  flooder lines sent        %llu, %d characters each (sends that returned: most wait in\n"
                "                            socket buffers until the host reads them)\n",
                static_cast<unsigned long long>(floodSent), Flooder::kTextBytes);
    if (floodFailed) std::printf("  flooder sends failed      %llu\n", static_cast<unsigned long long>(floodFailed));
    std::printf("  shown to each honest one  %.0f on average\n", double(floodSeen) / n);
    std::printf("  flooders disconnected     %zu\n", floodersDropped.size());
  }

  const auto& m = report.latencyMs;
  const auto& f = floor.latencyMs;
  if (!m.empty()) {
    std::printf("Latency, send call to the receiver's event (ms)\n");
    std::printf("                               p50      p90      p99      max\n");
    std::printf("  measured                %8.1f %8.1f %8.1f %8.1f\n", Percentile(m, .5), Percentile(m, .9),
                Percentile(m, .99), m.back());
    std::printf("  loop floor              %8.1f %8.1f %8.1f %8.1f\n", Percentile(f, .5), Percentile(f, .9),
                Percentile(f, .99), f.empty() ? 0.0 : f.back());
    std::printf("  over the floor          %+8.1f %+8.1f %+8.1f %+8.1f\n", Percentile(m, .5) - Percentile(f, .5),
                Percentile(m, .9) - Percentile(f, .9), Percentile(m, .99) - Percentile(f, .99),
                m.back() - (f.empty() ? 0.0 : f.back()));
    std::printf("  (floor: these sends replayed through the four 50 ms loops at no cost, %d phase draws;\n"
                "   a line alone waits at most one pass in each: %.0f ms%s)\n",
                floor.draws, 4 * kPassNs / 1e6,
                o.flooders > 0 ? ";\n   with flooders, no socket thread idles, and their lines cost nothing else" : "");
  }
  if (!upMs.empty()) {
    auto line = [](const char* label, const std::vector<float>& v) {
      if (v.empty()) {
        std::printf("  %-34s        –\n", label);
        return;
      }
      std::printf("  %-34s %8.1f %8.1f %8.1f %8.1f  (%zu)\n", label, Percentile(v, .5), Percentile(v, .9),
                  Percentile(v, .99), v.back(), v.size());
    };
    std::printf("Where it goes: split at the host's relay, which its poll loop notes (ms, with the count)\n");
    std::printf("                                          p50      p90      p99      max\n");
    line("send -> relayed, measured", upMs);
    line("send -> relayed, floor", floor.upstreamMs);
    line("relayed -> event, 1st of its pass", downFirstMs);
    line("  floor", floor.downstreamFirstMs);
    line("relayed -> event, later in pass", downLaterMs);
    line("  floor", floor.downstreamLaterMs);
  }
  double worstDrain = -1, worstFloorDrain = 0;
  bool drainComplete = true;
  if (o.workload == Workload::Bursty) {
    std::printf("Bursts, first send of a burst to its last delivery at any client\n");
    for (int r = 0; r < rounds; ++r) {
      const double bound = roundBoundMs[r];
      const double measured = report.roundDrainMs[r];
      if (measured < 0) drainComplete = false;
      worstDrain = std::max(worstDrain, measured);
      worstFloorDrain = std::max(worstFloorDrain, floor.roundDrainMs[r]);
      std::printf("  burst %-3d %6.0f bytes per receiver: measured %s ms, loop floor %.0f ms, "
                  "bound %.0f ms (measured/bound %.2f)\n",
                  r + 1, roundBytes[r], measured < 0 ? "incomplete" : Ms(measured).c_str(), floor.roundDrainMs[r],
                  bound, measured < 0 ? 0.0 : measured / bound);
    }
  }

  const double serverCpu = usage1.cpuSeconds - usage0.cpuSeconds;
  std::printf("Server, over the %.1f s of the workload\n", workloadS);
  if (usage1.ok) {
    std::printf("  CPU                       %.3f s = %.2f%% of one core", serverCpu, 100 * serverCpu / workloadS);
    if (usage1.socketThreadCpu >= 0) {
      std::printf(" (socket thread %.3f s, poll loop %.3f s)", usage1.socketThreadCpu - usage0.socketThreadCpu,
                  usage1.pollLoopCpu - usage0.pollLoopCpu);
    }
    std::printf("\n  resident memory           %.1f MiB now, %.1f MiB peak%s\n", usage1.rssMiB, usage1.peakRssMiB,
                usage1.memoryIsWholeProcess ? " (the whole process, clients included)" : "");
  } else {
    std::printf("  (could not read the server's usage)\n");
  }
  std::printf("  this process              CPU %.2f s, peak resident %.1f MiB\n", self1.cpuSeconds - self0.cpuSeconds,
              self1.peakRssMiB);

  if (!o.samples.empty()) {
    std::ofstream out(o.samples);
    for (float v : m) out << v << '\n';
  }
  if (!o.plot.empty() && !m.empty()) {
    const std::string title = std::to_string(n) + " clients, " + workload + ", " +
                              (o.host == HostMode::InProcess ? "in-process host" : "separate host");
    if (PlotLatency(o.plot, title, m, f, error)) {
      std::printf("  plot                      %s\n", o.plot.c_str());
    } else {
      Fail("no plot: " + error);
    }
  }
  const double wallS = NowNs() / 1e9;
  std::printf("Run: %.1f s in all (set-up %.1f s, workload and drain %.1f s, stopping %.1f s)\n", wallS,
              setupNs / 1e9, workloadS, (teardownNs + clientsStopNs) / 1e9);

  if (o.row) {
    // | host | clients | workload | sent | to all | lost | dup | order | dropped | p50 | p90 | p99 | max |
    // floor p50/p99 | burst drain | server CPU | peak RSS | wall |
    std::string burst = "–";
    if (o.workload == Workload::Bursty) {
      char text[96];
      std::snprintf(text, sizeof text, "%.2f s (floor %.2f, bound %.2f)", worstDrain / 1000, worstFloorDrain / 1000,
                    burstBoundMs / 1000);
      burst = worstDrain < 0 ? std::string("incomplete") : std::string(text);
    }
    std::string latency[4] = {"–", "–", "–", "–"}, floorText = "–";
    if (!m.empty()) {
      latency[0] = Ms(Percentile(m, .5));
      latency[1] = Ms(Percentile(m, .9));
      latency[2] = Ms(Percentile(m, .99));
      latency[3] = Ms(m.back());
      floorText = Ms(Percentile(f, .5)) + " / " + Ms(Percentile(f, .99));
    }
    char cpu[64];
    std::snprintf(cpu, sizeof cpu, "%.2f s (%.2f%%)", serverCpu, 100 * serverCpu / workloadS);
    std::string rowWorkload = WorkloadName(o.workload);
    if (o.flooders > 0) {
      rowWorkload += " + " + std::to_string(o.flooders) + " flooders (" + std::to_string(floodSent) + " lines sent, " +
                     std::to_string(floodSeen / static_cast<uint64_t>(n)) + " shown to each honest client, " +
                     std::to_string(floodersDropped.size()) + " disconnected)";
    }
    std::printf("ROW | %s | %d | %s | %llu | %llu | %llu | %llu | %llu | %zu | %s | %s | %s | %s | %s | %s | %s | %.1f | %.1f |\n",
                o.host == HostMode::InProcess ? "in-process" : o.host == HostMode::Process ? "process" : "external", n,
                rowWorkload.c_str(),
                static_cast<unsigned long long>(report.sent), static_cast<unsigned long long>(report.deliveredToAll),
                static_cast<unsigned long long>(report.lost), static_cast<unsigned long long>(report.duplicated),
                static_cast<unsigned long long>(report.outOfOrder), droppedCount, latency[0].c_str(),
                latency[1].c_str(), latency[2].c_str(), latency[3].c_str(), floorText.c_str(), burst.c_str(), cpu,
                usage1.peakRssMiB, wallS);
  }

  const bool clean = report.lost == 0 && report.duplicated == 0 && report.outOfOrder == 0 && report.stray == 0 &&
                     report.sendFailed == 0 && droppedCount == 0 && drainComplete;
  return clean ? 0 : 1;
}
