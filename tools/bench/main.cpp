// The relay benchmark: a real server endpoint and N real client endpoints
// over loopback, each drained by a poll loop like the chat window's, driven
// by a steady, bursty or idle workload, optionally beside clients that flood
// the host. Reports delivery, end-to-end latency, and the server's CPU time,
// memory and wake-ups.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "analysis.h"
#include "benchclock.h"
#include "chat/linehistory.h"
#include "flooder.h"
#include "host.h"
#include "options.h"
#include "plan.h"
#include "procstat.h"
#include "protocol/diagnostics.h"
#include "receiver.h"
#include "rejoiner.h"
#include "report.h"

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Where the server's memory is sampled as the lines go out: the first at
// twice the lines a host keeps for those who join later.
constexpr std::array<size_t, 4> kRssSampleLines = {2 * HISTORY_LINES, 2000, 5000, 10000};

void SleepUntilNs(int64_t ns) { std::this_thread::sleep_until(BenchEpoch() + std::chrono::nanoseconds(ns)); }

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

void Fail(const std::string& what) { std::fprintf(stderr, "jaselo-bench: %s\n", what.c_str()); }

std::unique_ptr<Host> MakeHost(const BenchOptions& o) {
  if (o.host == HostMode::External) return MakeExternalHost(o.port);
  return MakeProcessHost(o.participant.empty() ? ProgramDirectory() + "/jaselo-participant" : o.participant);
}

// Every client endpoint of the run: the honest ones, then the flooders.
struct Clients {
  Departures departures;
  std::vector<std::unique_ptr<Receiver>> receivers;
  std::vector<std::unique_ptr<Flooder>> flooders;
  std::unique_ptr<Rejoiner> rejoiner;
};

// Clients join a few at a time: the server's backlog holds five, so a crowd
// would only wait for SYN retries.
// The flooders join last.
bool JoinClients(const BenchOptions& o, Host& host, uint32_t perSender, Clients& c, std::string& error) {
  const int n = o.clients;
  ClientSecurity security;
  if (o.tls) security.tls = TlsContext::ForClient(error);
  if (o.tls && !security.tls) return false;
  const int endpoints = n + o.flooders;
  for (int i = 0; i < endpoints; ++i) {
    if (i >= 5 && !WaitFor([&] { return c.receivers[0]->joins.load() + 4 >= static_cast<uint64_t>(i); }, 15s)) {
      error = "client " + std::to_string(i) + " was not let in within 15 s";
      return false;
    }
    bool joined = false;
    if (i < n) {
      c.receivers.push_back(std::make_unique<Receiver>(i, static_cast<size_t>(perSender) * n, c.departures));
      joined = c.receivers.back()->Join(host.Port(), security, o.websocket);
    } else {
      c.flooders.push_back(std::make_unique<Flooder>(i - n));
      joined = c.flooders.back()->Join(host.Port(), security);
    }
    if (!joined) {
      error = "client " + std::to_string(i) + " could not connect";
      return false;
    }
  }
  if (!WaitFor([&] { return c.receivers[0]->joins.load() + 1 >= static_cast<uint64_t>(endpoints); }, 15s)) {
    error = "not every client was identified within 15 s";
    return false;
  }
  // A first line from everybody proves every client is on the relay path.
  for (int i = 0; i < n; ++i) c.receivers[i]->Say("W " + std::to_string(i));
  const bool warm = WaitFor(
      [&] {
        for (const auto& r : c.receivers) {
          if (r->warmups.load() < static_cast<uint64_t>(n)) return false;
        }
        return true;
      },
      10s);
  if (!warm) error = "the warm-up lines did not reach every client within 10 s";
  return warm;
}

// The lines the workload sent, indexed by sender * perSender + (seq - 1),
// and its time span.
struct Sending {
  std::vector<SentLine> sent;
  int64_t startNs = 0;
  int64_t lastSendNs = 0;
  int64_t endNs = 0;
};

Bursts BurstsOf(const std::vector<SentLine>& sent, int rounds) {
  Bursts b;
  b.roundBytes.assign(static_cast<size_t>(rounds), 0.0);
  for (const auto& s : sent) {
    if (s.ok) b.roundBytes[s.round] += s.bytes;
  }
  return b;
}

// Until every receiver has every line, or nothing has moved for 5 s, or
// 10 s after the last send.
void AwaitDrain(const std::vector<std::unique_ptr<Receiver>>& receivers, uint64_t expectedEach, int64_t hardStop) {
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

Rejoins RejoinsOf(Rejoiner::Figures taken) {
  Rejoins r;
  r.joins = taken.joins;
  r.answered = taken.answered;
  if (taken.joins > 0) {
    r.peoplePerJoin = static_cast<double>(taken.people) / static_cast<double>(taken.joins);
    r.earlierPerJoin = static_cast<double>(taken.earlier) / static_cast<double>(taken.joins);
  }
  r.answerMs = std::move(taken.answerMs);
  std::sort(r.answerMs.begin(), r.answerMs.end());
  return r;
}

// The workload, the flood already running; the server's and this process's
// usage sampled at its start and end.
Sending RunWorkload(const BenchOptions& o, const Plan& plan, Clients& c, Host& host, RunFigures& f) {
  const int n = o.clients;
  Sending w;
  c.departures.recording = true;
  w.startNs = NowNs() + (c.flooders.empty() ? 0 : kFloodLeadNs) + 20'000'000;
  const int64_t lastPlannedNs = plan.lines.empty() ? static_cast<int64_t>(o.duration * 1e9) : plan.lines.back().atNs;
  for (auto& fl : c.flooders) fl->Begin(w.startNs + lastPlannedNs + kFloodTailNs, kFloodLineCap);
  if (o.rejoiner) {
    c.rejoiner = std::make_unique<Rejoiner>();
    c.rejoiner->Begin(host.Port(), w.startNs + lastPlannedNs);
  }
  SleepUntilNs(w.startNs - 20'000'000);
  f.usage0 = host.Sample();
  f.self0 = ReadProcUsage(0);
  w.sent.resize(static_cast<size_t>(plan.perSender) * n);
  w.lastSendNs = w.startNs;
  for (const Planned& p : plan.lines) {
    SleepUntilNs(w.startNs + p.atNs);
    Receiver& r = *c.receivers[p.sender];
    const int64_t at = NowNs();
    const std::string text = LineText(p.sender, p.seq, at, o.textBytes);
    SentLine& s = w.sent[static_cast<size_t>(p.sender) * plan.perSender + (p.seq - 1)];
    s = {p.sender, p.seq, at, r.MessageBytes(text), p.round, false};
    s.ok = r.Say(text);
    w.lastSendNs = at;
    // Past the first sample the host has relayed more lines than it keeps:
    // from there on its memory should stay where it is.
    const auto sentSoFar = static_cast<size_t>(&p - plan.lines.data() + 1);
    if (std::find(kRssSampleLines.begin(), kRssSampleLines.end(), sentSoFar) != kRssSampleLines.end()) {
      const ProcUsage u = host.Sample();
      if (u.ok) f.rssTrail.emplace_back(sentSoFar, u.rssMiB);
    }
  }
  uint64_t expectedEach = 0;
  for (const auto& s : w.sent) expectedEach += s.ok ? 1 : 0;
  f.bursts = BurstsOf(w.sent, plan.rounds);

  if (o.workload == Workload::Idle) {
    SleepUntilNs(w.startNs + static_cast<int64_t>(o.duration * 1e9));
  } else {
    AwaitDrain(c.receivers, expectedEach, w.lastSendNs + 10'000'000'000);
  }
  w.endNs = NowNs();
  f.usage1 = host.Sample();
  f.self1 = ReadProcUsage(0);
  if (c.rejoiner) {
    c.rejoiner->Finish();
    f.rejoins = RejoinsOf(c.rejoiner->Taken());
  }
  c.departures.recording = false;
  return w;
}

// Clients dropped: by their own endpoint and by what others heard; the
// honest ones and the flooders apart. Then the flooders
// finish: only now, since their departures are not drops.
Drops CollectDrops(Clients& c) {
  std::set<std::string> dropped, floodersDropped;
  for (const auto& r : c.receivers) {
    if (!r->Connected()) dropped.insert(r->nick);
  }
  for (const auto& fl : c.flooders) {
    if (!fl->Connected()) floodersDropped.insert(fl->nick);
  }
  {
    std::lock_guard<std::mutex> guard(c.departures.mutex);
    for (const std::string& name : c.departures.names) {
      if (name.rfind(Rejoiner::kNickPrefix, 0) == 0) continue;  // it leaves every second on purpose
      (name.rfind("flood", 0) == 0 ? floodersDropped : dropped).insert(name);
    }
  }
  Drops d;
  d.honest = dropped.size();
  d.flooders = floodersDropped.size();
  for (const auto& fl : c.flooders) {
    d.floodSent += fl->Sent();
    d.floodFailed += fl->Failed();
  }
  for (const auto& r : c.receivers) d.floodSeen += r->floodLines.load();
  for (auto& fl : c.flooders) fl->Finish();
  return d;
}

// Stops every loop and the host; the receivers keep what they recorded.
void StopAll(Clients& c, Host& host) {
  for (auto& r : c.receivers) r->AskToHalt();
  for (auto& fl : c.flooders) fl->AskToHalt();
  for (auto& r : c.receivers) r->Halt();
  c.flooders.clear();
  host.Stop();
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

  RunFigures f;
  f.machine = ReadMachineInfo();
  f.loadBefore = LoadAverage();
  const int n = o.clients;
  const Plan plan = MakePlan(o);

  std::unique_ptr<Host> host = MakeHost(o);
  if (!host->Start(error)) {
    Fail(error);
    return 2;
  }

  Clients clients;
  const int64_t setupStart = NowNs();
  if (!JoinClients(o, *host, plan.perSender, clients, error)) {
    Fail(error);
    for (auto& r : clients.receivers) r->Halt();
    clients.flooders.clear();
    host->Stop();
    return 2;
  }
  const int64_t setupNs = NowNs() - setupStart;

  const Sending w = RunWorkload(o, plan, clients, *host, f);
  f.drops = CollectDrops(clients);

  f.loadAfter = LoadAverage();
  const int64_t teardownStart = NowNs();
  StopAll(clients, *host);
  const int64_t teardownNs = NowNs() - teardownStart;

  std::vector<const std::vector<Delivery>*> views;
  for (const auto& r : clients.receivers) views.push_back(&r->deliveries);
  f.report = Analyse(w.sent, n, plan.perSender, plan.rounds, views);
  const int64_t clientsStop = NowNs();
  clients.receivers.clear();
  const int64_t clientsStopNs = NowNs() - clientsStop;

  std::sort(f.report.latencyMs.begin(), f.report.latencyMs.end());
  f.host = host->Describe();
  f.messageBytes = w.sent.empty() ? 0 : w.sent.front().bytes;
  f.workloadS = (w.endNs - w.startNs) / 1e9;

  PrintReport(o, f);
  SaveLatencies(o, f);
  const double wallS = NowNs() / 1e9;
  std::printf("Run: %.1f s in all (set-up %.1f s, workload and drain %.1f s, stopping %.1f s)\n", wallS, setupNs / 1e9,
              f.workloadS, (teardownNs + clientsStopNs) / 1e9);
  if (o.row) PrintRow(o, f, wallS);
  return Clean(o, f) ? 0 : 1;
}
