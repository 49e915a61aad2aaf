// The fault suite: a real server process (the headless participant with
// --serve) on 127.0.0.1, two honest participants chatting throughout, and one
// fault after another thrown at the server. Per fault it reports what the
// honest participants saw and the server's CPU and memory, and it fails if an
// honest line is lost or reordered, a forgery gets through, the server stops
// serving, or its memory grows past a fixed bound. Then the longer faults,
// each with a host and honest participants of its own (scenarios.h): the
// host's standard output blocked, floods, and participants that never read;
// and last a participant that joined a server pushing lines at it at once.
//   build/jaselo-faults [--flood-seconds N] [--stuck-seconds N] [--only NAME] [path/to/jaselo-participant]
// NAME is one of suite, blocked, floods, stuck, pushed. The full-length run is
//   build/jaselo-faults --flood-seconds 300 --stuck-seconds 60
// and ctest runs a short one (ctest --test-dir build -L faults -V).
#include <signal.h>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "childprocess.h"
#include "common/web_peer.h"
#include "common/wire.h"
#include "headlesshost.h"
#include "procstat.h"
#include "protocol/messages.h"
#include "raw.h"
#include "room.h"
#include "scenarios.h"

namespace {
using namespace std::chrono_literals;

constexpr auto HONEST_PERIOD = 100ms;  // each honest participant says a line this often
constexpr auto CATCH_UP = 15s;         // for every honest line sent so far to arrive
constexpr long RSS_GROWTH_LIMIT_KB = 64 * 1024;
constexpr int WATCHED_LIMIT = 64;  // the server's watched sockets, its listening one included
const char* const HONEST[2] = {"honest1", "honest2"};

std::string participantPath;
uint16_t port = 0;
std::mt19937 rng(20240613);

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

bool SameName(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

std::string RandomBytes(size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

// ---- what the honest participants see ----

struct Observed {
  std::map<std::string, int> joined, departed;  // by lower-case name
  int othersSays = 0, privates = 0, unrelayed = 0, lost = 0;
};

class Suite {
 public:
  std::mutex mutex;
  std::vector<Clock::time_point> sent[2];  // per honest sender, by sequence number
  size_t nextSeq[2][2] = {};               // [receiver][sender]
  std::vector<int> order[2];               // honest lines in arrival order, per receiver
  double maxLatencyMs = 0;                 // since the phase began
  size_t receivedInPhase = 0;
  Observed seen[2];  // since the phase began, per receiver
  std::vector<std::string> violations;
  bool closing = false;  // departures of the honest are expected now

  void OnLine(int receiver, const std::string& line) {
    const std::string type = line.substr(0, line.find(' '));
    const std::string name = EventField(line, "name");
    const std::string text = EventField(line, "text");
    const auto now = Clock::now();
    std::lock_guard<std::mutex> guard(mutex);
    std::string lower = name;
    for (auto& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const int honest = SameName(name, HONEST[0]) ? 0 : SameName(name, HONEST[1]) ? 1 : -1;
    Observed& o = seen[receiver];
    if (type == "SAYS" && honest >= 0) {
      unsigned seq = 0;
      char tag[16] = {};
      if (std::sscanf(text.c_str(), "h%15s %u", tag, &seq) != 2 ||
          std::string("h") + tag != "h" + std::to_string(honest + 1)) {
        Violate(std::string(HONEST[receiver]) + " saw a forged line under " + name + ": \"" + text.substr(0, 40) +
                "\"");
        return;
      }
      if (seq != nextSeq[receiver][honest]) {
        Violate(std::string(HONEST[receiver]) + " expected line " + std::to_string(nextSeq[receiver][honest]) + " of " +
                HONEST[honest] + ", got " + std::to_string(seq));
      }
      nextSeq[receiver][honest] = seq + 1;
      order[receiver].push_back(static_cast<int>(honest * 1000000 + seq));
      if (seq < sent[honest].size()) maxLatencyMs = std::max(maxLatencyMs, Ms(now - sent[honest][seq]));
      ++receivedInPhase;
    } else if (type == "SAYS") {
      ++o.othersSays;
    } else if (type == "JOINED") {
      ++o.joined[lower];
    } else if (type == "DISCONNECTED") {
      if (!closing && (honest >= 0 || name == SERVER_SHUTDOWN_NAME)) {
        Violate(std::string(HONEST[receiver]) + " saw a forged departure of " + name);
      }
      ++o.departed[lower];
    } else if (type == "PRIVATE") {
      ++o.privates;
    } else if (type == "UNRELAYED") {
      ++o.unrelayed;
    } else if (type == "LOST") {
      ++o.lost;
      if (!closing) Violate(std::string(HONEST[receiver]) + " lost its connection");
    }
  }

  void Violate(const std::string& what) {
    if (violations.size() < 50) violations.push_back(what);
  }

  // True once both receivers have every honest line sent so far.
  bool CaughtUp() {
    std::lock_guard<std::mutex> guard(mutex);
    for (int r = 0; r < 2; ++r) {
      for (int s = 0; s < 2; ++s) {
        if (nextSeq[r][s] < sent[s].size()) return false;
      }
    }
    return true;
  }

  int Count(const std::map<std::string, int>& m, const std::string& prefix) {
    int n = 0;
    for (const auto& [name, count] : m) n += name.rfind(prefix, 0) == 0 ? count : 0;
    return n;
  }
  // Seen by both honest participants (the smaller of the two counts).
  int Joined(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(mutex);
    return std::min(Count(seen[0].joined, prefix), Count(seen[1].joined, prefix));
  }
  int Departed(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(mutex);
    return std::min(Count(seen[0].departed, prefix), Count(seen[1].departed, prefix));
  }
  int MostDeparturesOfOne(const std::string& prefix) {
    std::lock_guard<std::mutex> guard(mutex);
    int most = 0;
    for (const auto& o : seen) {
      for (const auto& [name, count] : o.departed) {
        if (name.rfind(prefix, 0) == 0) most = std::max(most, count);
      }
    }
    return most;
  }
};

Suite suite;

struct Honest {
  Child child;
  std::thread reader;
};
Honest honest[2];
HeadlessHost server;
std::atomic<bool> talking{false};

void StartHonest(int i) {
  honest[i].child =
      Spawn({participantPath, "--nick", HONEST[i], "--host", "127.0.0.1", "--port", std::to_string(port), "--quiet"},
            true, true);
  honest[i].reader = std::thread([i] {
    LineReader lines(honest[i].child.out);
    std::string line;
    // The participant exits at the end, which ends this loop.
    while (lines.Next(line, 3600s)) suite.OnLine(i, line);
  });
}

void Talk() {
  while (talking) {
    for (int s = 0; s < 2; ++s) {
      std::string text;
      {
        std::lock_guard<std::mutex> guard(suite.mutex);
        text = "h" + std::to_string(s + 1) + " " + std::to_string(suite.sent[s].size()) + "\n";
        suite.sent[s].push_back(Clock::now());
      }
      WriteAll(honest[s].child.in, text);
    }
    std::this_thread::sleep_for(HONEST_PERIOD);
  }
}

// ---- the server's figures while a phase runs ----

std::atomic<long> peakRssKb{0};
std::atomic<bool> sampling{true};

long RssKb(const ProcUsage& u) { return u.rssMiB > 0 ? std::lround(u.rssMiB * 1024) : 0; }

void Sample() {
  while (sampling) {
    const long rssKb = RssKb(ReadProcUsage(server.Pid()));
    long peak = peakRssKb.load();
    while (rssKb > peak && !peakRssKb.compare_exchange_weak(peak, rssKb)) {
    }
    std::this_thread::sleep_for(50ms);
  }
}

// Waits while keeping the given connections read.
void Idle(std::chrono::milliseconds d, std::vector<std::vector<Raw>*> sets = {}) {
  const auto end = Clock::now() + d;
  while (Clock::now() < end) {
    for (auto* s : sets) Pump(*s);
    std::this_thread::sleep_for(10ms);
  }
}

template <typename Condition>
bool IdleUntil(Condition done, std::chrono::milliseconds limit, std::vector<std::vector<Raw>*> sets = {}) {
  const auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    for (auto* s : sets) Pump(*s);
    if (done()) return true;
    std::this_thread::sleep_for(10ms);
  }
  for (auto* s : sets) Pump(*s);
  return done();
}

// ---- phases ----

struct Row {
  std::string fault;
  std::string outcome;  // what the fault did, in a few words
  size_t honestSent = 0, honestReceived = 0;
  double maxLatencyMs = 0;
  std::string othersSeen;
  double cpuSeconds = 0, seconds = 0;
  long rssStartKb = 0, rssPeakKb = 0, rssEndKb = 0;
  int fdsStart = 0, fdsEnd = 0;
  std::vector<std::string> failures;
};
std::vector<Row> rows;
long baselineRssKb = 0;

void Expect(Row& row, bool ok, const std::string& what) {
  if (!ok) row.failures.push_back(what);
}

std::string Summary(const Observed& o) {
  int joined = 0, departed = 0;
  for (const auto& [n, c] : o.joined) joined += c;
  for (const auto& [n, c] : o.departed) departed += c;
  std::string s = std::to_string(joined) + " joined, " + std::to_string(departed) + " left";
  if (o.othersSays) s += ", " + std::to_string(o.othersSays) + " lines of others";
  if (o.privates) s += ", " + std::to_string(o.privates) + " private";
  if (o.unrelayed) s += ", " + std::to_string(o.unrelayed) + " unrelayed";
  if (o.lost) s += ", LOST";
  return s;
}

void Phase(const std::string& name, const std::function<void(Row&)>& body) {
  Row row;
  row.fault = name;
  size_t sentBefore;
  size_t violationsBefore;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    sentBefore = suite.sent[0].size() + suite.sent[1].size();
    violationsBefore = suite.violations.size();
    suite.maxLatencyMs = 0;
    suite.receivedInPhase = 0;
    suite.seen[0] = suite.seen[1] = Observed{};
  }
  std::fprintf(stderr, "-- %s\n", name.c_str());
  const ProcUsage start = ReadProcUsage(server.Pid());
  peakRssKb = RssKb(start);
  const auto began = Clock::now();

  body(row);

  const bool caughtUp = IdleUntil([] { return suite.CaughtUp(); }, CATCH_UP);
  const ProcUsage end = ReadProcUsage(server.Pid());
  row.seconds = Ms(Clock::now() - began) / 1000;
  row.cpuSeconds = end.cpuSeconds - start.cpuSeconds;
  row.rssStartKb = RssKb(start);
  row.rssPeakKb = std::max(peakRssKb.load(), RssKb(end));
  row.rssEndKb = RssKb(end);
  row.fdsStart = start.fds;
  row.fdsEnd = end.fds;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    row.honestSent = suite.sent[0].size() + suite.sent[1].size() - sentBefore;
    row.honestReceived = suite.receivedInPhase;
    row.maxLatencyMs = suite.maxLatencyMs;
    row.othersSeen = Summary(suite.seen[0]);
    for (size_t i = violationsBefore; i < suite.violations.size(); ++i) row.failures.push_back(suite.violations[i]);
  }
  Expect(row, IsRunning(server.Pid()), "the server process ended");
  Expect(row, caughtUp, "honest lines did not all arrive within 15 s of the fault's end");
  Expect(row, row.rssPeakKb - baselineRssKb <= RSS_GROWTH_LIMIT_KB,
         "server memory grew by " + std::to_string((row.rssPeakKb - baselineRssKb) / 1024) + " MB");
  rows.push_back(row);
  for (const auto& f : row.failures) std::fprintf(stderr, "   FAILED: %s\n", f.c_str());
}

std::string Named(const std::string& prefix, int i) { return prefix + std::to_string(i); }

void RandomBytesFault(Row& row) {
  // 200 connections in waves that fit the watched set: even ones send random
  // bytes straight away, odd ones identify first and then send random bytes.
  int refusedUnidentified = 0, identifiedRandom = 0;
  for (int wave = 0; wave < 4; ++wave) {
    auto conns = ConnectMany(50, port, 10s);
    for (size_t i = 1; i < conns.size(); i += 2)
      SendNow(conns[i], WireText(Welcome(Named("rnd", wave * 50 + static_cast<int>(i)))));
    for (int burst = 0; burst < 3; ++burst) {
      for (auto& c : conns) SendNow(c, RandomBytes(700));
      Idle(100ms, {&conns});
    }
    Idle(300ms, {&conns});
    for (size_t i = 0; i < conns.size(); i += 2) refusedUnidentified += conns[i].closedByServer ? 1 : 0;
    for (size_t i = 1; i < conns.size(); i += 2) identifiedRandom += conns[i].closedByServer ? 0 : 1;
    CloseAll(conns);
  }
  IdleUntil([] { return suite.Departed("rnd") >= suite.Joined("rnd"); }, 5s);
  row.outcome = std::to_string(refusedUnidentified) + "/100 unidentified closed by the server at once; " +
                std::to_string(suite.Joined("rnd")) + "/100 identified joined, " +
                std::to_string(suite.Departed("rnd")) + " left";
  Expect(row, suite.Joined("rnd") == suite.Departed("rnd"), "a random-bytes client joined but never left");
}

void SilentFault(Row& row) {
  auto conns = ConnectMany(30, port, 10s);
  IdleUntil([&] { return CountClosedByServer(conns) == static_cast<int>(conns.size()); }, 14s, {&conns});
  double earliest = 1e9, latest = 0;
  for (const auto& c : conns) {
    if (!c.closedByServer) continue;
    earliest = std::min(earliest, Ms(c.closedAt - c.connectedAt) / 1000);
    latest = std::max(latest, Ms(c.closedAt - c.connectedAt) / 1000);
  }
  const int closed = CountClosedByServer(conns);
  char text[160];
  std::snprintf(text, sizeof text, "%d/30 closed by the server %.1f-%.1f s after connecting", closed, earliest, latest);
  row.outcome = text;
  Expect(row, closed == 30, "silent connections left open");
  Expect(row, earliest >= 9.5, "a silent connection was closed before the 10 s identification time");
  CloseAll(conns);
}

void HalfMessageFault(Row& row) {
  // Newcomers send half a welcome; identified clients half a chat line.
  auto newcomers = ConnectMany(20, port, 10s);
  auto members = ConnectMany(10, port, 10s);
  for (auto& c : newcomers) SendNow(c, WireText(Welcome("halfway-newcomer")).substr(0, 7));
  for (size_t i = 0; i < members.size(); ++i)
    SendNow(members[i], WireText(Welcome(Named("half", static_cast<int>(i)))));
  IdleUntil([] { return suite.Joined("half") == 10; }, 5s, {&members});
  for (auto& c : members) SendNow(c, WireText(Says("half", std::string(900, 'x'))).substr(0, 450));
  IdleUntil([&] { return CountClosedByServer(newcomers) == 20; }, 14s, {&newcomers, &members});
  const int newcomersClosed = CountClosedByServer(newcomers);
  const int membersClosed = CountClosedByServer(members);
  CloseAll(newcomers);
  CloseAll(members);
  IdleUntil([] { return suite.Departed("half") == 10; }, 5s);
  row.outcome = std::to_string(newcomersClosed) + "/20 half-welcomes closed at the identification time; " +
                std::to_string(10 - membersClosed) + "/10 members with half a line kept, then left (" +
                std::to_string(suite.Departed("half")) + " departures)";
  Expect(row, newcomersClosed == 20, "a half-welcome connection was never closed");
  Expect(row, membersClosed == 0, "an identified client was dropped for an unfinished line");
  Expect(row, suite.Departed("half") == 10, "not every member's departure was announced");
}

void SeventyFault(Row& row) {
  auto conns = ConnectMany(70, port, 20s);
  for (size_t i = 0; i < conns.size(); ++i) SendNow(conns[i], WireText(Welcome(Named("crowd", static_cast<int>(i)))));
  // Each connection ends up either identified or closed by the server.
  IdleUntil([&] { return suite.Joined("crowd") + CountClosedByServer(conns) >= 70; }, 20s, {&conns});
  const int joined = suite.Joined("crowd");
  const int refused = CountClosedByServer(conns);
  int established = 0;
  for (const auto& c : conns) established += c.connected ? 1 : 0;
  CloseAll(conns);
  IdleUntil([&] { return suite.Departed("crowd") >= joined; }, 10s);
  row.outcome = std::to_string(established) + " connected, " + std::to_string(joined) + " joined, " +
                std::to_string(refused) + " closed at once (watched set full), " +
                std::to_string(suite.Departed("crowd")) + " left";
  // 64 watched sockets: the listening one and the two honest participants take 3.
  Expect(row, joined <= WATCHED_LIMIT - 3, "more clients joined than the server can watch");
  Expect(row, joined + refused == 70, "a connection was neither served nor closed");
  Expect(row, suite.Departed("crowd") == joined, "departures do not match arrivals");
}

void KilledFault(Row& row) {
  // Raw clients reset mid-message, and real participants killed while sending.
  auto cut = ConnectMany(10, port, 10s);
  for (size_t i = 0; i < cut.size(); ++i) SendNow(cut[i], WireText(Welcome(Named("cut", static_cast<int>(i)))));
  std::vector<Child> victims;
  std::vector<std::thread> feeders;
  std::atomic<bool> feeding{true};
  for (int i = 0; i < 3; ++i) {
    victims.push_back(Spawn({participantPath, "--nick", Named("victim", i), "--port", std::to_string(port), "--quiet"},
                            false, false));
  }
  for (auto& v : victims) {
    feeders.emplace_back([&feeding, fd = v.in] {
      const std::string line = std::string(600, 'v') + "\n";
      while (feeding && WriteAll(fd, line)) {
      }
    });
  }
  IdleUntil([] { return suite.Joined("cut") == 10 && suite.Joined("victim") == 3; }, 10s, {&cut});
  for (auto& c : cut) SendNow(c, WireText(Says(Named("cut", 0), std::string(800, 'c'))).substr(0, 300));
  Idle(300ms, {&cut});
  for (auto& c : cut) AbortRaw(c);
  for (auto& v : victims) kill(v.pid, SIGKILL);
  feeding = false;
  for (auto& v : victims) {
    WaitExit(v.pid, 5s);
    CloseFd(v.in);
  }
  for (auto& f : feeders) f.join();
  IdleUntil([] { return suite.Departed("cut") == 10 && suite.Departed("victim") == 3; }, 10s);
  row.outcome = std::to_string(suite.Departed("cut")) + "/10 reset clients and " +
                std::to_string(suite.Departed("victim")) + "/3 killed participants announced as gone";
  Expect(row, suite.Departed("cut") == 10 && suite.Departed("victim") == 3, "a dead client was never announced");
  Expect(row, suite.MostDeparturesOfOne("cut") <= 1 && suite.MostDeparturesOfOne("victim") <= 1,
         "a dead client was announced twice");
}

// Twenty loud clients fill a reader that never reads, already joined as
// `sleeperName`, with private lines; it must be dropped within the send limit.
void FillNonReader(Row& row, std::vector<Raw>& sleeper, const std::string& sleeperName, const std::string& loudPrefix,
                   const std::string& who) {
  sleeper[0].reads = false;
  auto loud = ConnectMany(20, port, 10s);
  for (size_t i = 0; i < loud.size(); ++i) {
    SendNow(loud[i], WireText(Welcome(Named(loudPrefix, static_cast<int>(i)))));
  }
  IdleUntil([&] { return suite.Joined(sleeperName) == 1 && suite.Joined(loudPrefix) == 20; }, 5s, {&loud});
  const auto began = Clock::now();
  const auto dropped = [&] { return suite.Departed(sleeperName) == 1; };
  while (!dropped() && Clock::now() - began < 40s) {
    for (size_t i = 0; i < loud.size(); ++i) {
      const std::string name = Named(loudPrefix, static_cast<int>(i));
      SendNow(loud[i], WireText(Private(sleeperName, name, std::string(900, 'L'))));
    }
    Idle(50ms, {&loud, &sleeper});
  }
  const bool wasDropped = dropped();
  const double after = Ms(Clock::now() - began) / 1000;
  CloseAll(loud);
  CloseAll(sleeper);
  IdleUntil([&] { return suite.Departed(loudPrefix) == 20; }, 10s);
  char text[160];
  std::snprintf(text, sizeof text, "the %s was %s %.1f s into 20 loud clients' private lines to it", who.c_str(),
                wasDropped ? "dropped" : "STILL SERVED", after);
  row.outcome = text;
  Expect(row, wasDropped, "a " + who + " was never dropped");
  std::lock_guard<std::mutex> guard(suite.mutex);
  Expect(row, suite.maxLatencyMs <= 7000, "honest lines were held up longer than the 5 s send limit");
}

void SleeperFault(Row& row) {
  // A client that never reads. Loopback lets the server's send buffer grow to
  // 4 MB before a send waits, so twenty loud clients fill it with private
  // lines for the sleeper alone (a public flood that size would test the
  // honest participants' reading instead).
  auto sleeper = ConnectMany(1, port, 10s, 4096);
  SendNow(sleeper[0], WireText(Welcome("sleeper")));
  FillNonReader(row, sleeper, "sleeper", "loud", "non-reading client");
}

void FlooderFault(Row& row) {
  // A real participant fed 900-character lines as fast as it takes them. The
  // server reads it at one block per pass, so what it cannot send yet waits
  // in its socket; it is killed at the end, as that backlog would take
  // minutes to drain.
  Child flooder =
      Spawn({participantPath, "--nick", "flooder", "--port", std::to_string(port), "--quiet"}, false, false);
  std::atomic<bool> feeding{true};
  std::atomic<int> written{0};
  std::thread feeder([&] {
    const std::string line = std::string(900, 'F') + "\n";
    while (feeding && WriteAll(flooder.in, line)) ++written;
  });
  Idle(8s);
  feeding = false;
  kill(flooder.pid, SIGKILL);
  WaitExit(flooder.pid, 5s);
  CloseFd(flooder.in);
  feeder.join();
  const auto killed = Clock::now();
  const bool left = IdleUntil([] { return suite.Departed("flooder") == 1; }, 10s);
  int relayed;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    relayed = std::min(suite.seen[0].othersSays, suite.seen[1].othersSays);
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "%d of its lines relayed to each in 8 s (%d taken from its input); "
                "killed, departure seen after %.1f s",
                relayed, written.load(), Ms(Clock::now() - killed) / 1000);
  row.outcome = text;
  Expect(row, left, "the killed flooder's departure was not seen");
}

void DuplicateFault(Row& row) {
  auto dups = ConnectMany(3, port, 10s);
  SendNow(dups[0], WireText(Welcome("HONEST1")));
  SendNow(dups[1], WireText(Welcome("Honest2")));
  SendNow(dups[2], WireText(Welcome("hOnEsT1")));
  IdleUntil([&] { return CountClosedByServer(dups) == 3; }, 5s, {&dups});
  auto twins = ConnectMany(2, port, 10s);
  SendNow(twins[0], WireText(Welcome("Twin")));
  SendNow(twins[1], WireText(Welcome("TWIN")));
  IdleUntil([&] { return suite.Joined("twin") + CountClosedByServer(twins) >= 2; }, 5s, {&twins});
  Idle(300ms, {&twins});
  const int dupsClosed = CountClosedByServer(dups);
  const int twinsJoined = suite.Joined("twin");
  const int twinsClosed = CountClosedByServer(twins);
  int honestJoined;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    honestJoined = suite.Count(suite.seen[0].joined, "honest") + suite.Count(suite.seen[1].joined, "honest");
  }
  CloseAll(dups);
  CloseAll(twins);
  IdleUntil([] { return suite.Departed("twin") >= 1; }, 5s);
  row.outcome = std::to_string(dupsClosed) + "/3 welcomes as HONEST1/Honest2/hOnEsT1 closed, " +
                std::to_string(honestJoined) + " announced; Twin+TWIN: " + std::to_string(twinsJoined) + " joined, " +
                std::to_string(twinsClosed) + " closed";
  Expect(row, dupsClosed == 3 && honestJoined == 0, "a duplicate of an honest nickname was accepted");
  Expect(row, twinsJoined == 1 && twinsClosed == 1, "Twin and TWIN did not end with exactly one joined");
}

void ForgeryFault(Row& row) {
  auto mallory = ConnectMany(1, port, 10s);
  SendNow(mallory[0], WireText(Welcome("mallory")));
  IdleUntil([] { return suite.Joined("mallory") == 1; }, 5s, {&mallory});
  // A block of forgeries, repeated every pass for 5 seconds.
  std::string block;
  const std::string forgeries[] = {
      WireText(Says("honest1", "forged line")),
      WireText(Departure("honest2")),
      WireText(Departure(SERVER_SHUTDOWN_NAME)),
      WireText(Private("honest1", "honest2", "forged private")),
      WireText(Unrelayed("HONEST1", "forged")),
      WireText(Departure("HONEST1")),
      WireText(Welcome("honest2")),
  };
  for (size_t i = 0; block.size() + forgeries[i % 7].size() <= 1024; ++i) block += forgeries[i % 7];
  int sentBlocks = 0;
  const auto began = Clock::now();
  while (Clock::now() - began < 5s) {
    SendNow(mallory[0], block);
    ++sentBlocks;
    Idle(50ms, {&mallory});
  }
  SendNow(mallory[0], WireText(Says("mallory", "done")));
  IdleUntil(
      [] {
        std::lock_guard<std::mutex> guard(suite.mutex);
        return suite.seen[0].othersSays + suite.seen[1].othersSays >= 2;
      },
      CATCH_UP, {&mallory});
  const bool stillThere = !mallory[0].closedByServer;
  CloseAll(mallory);
  IdleUntil([] { return suite.Departed("mallory") == 1; }, 5s);
  int ownLines;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    ownLines = std::min(suite.seen[0].othersSays, suite.seen[1].othersSays);
  }
  row.outcome = std::to_string(sentBlocks) + " blocks of forgeries (" +
                std::to_string(sentBlocks * static_cast<int>(block.size() / 40)) +
                "+ messages) dropped; mallory's own line " + (ownLines == 1 ? "relayed" : "NOT relayed") +
                (stillThere ? ", mallory kept" : ", mallory dropped");
  Expect(row, ownLines == 1, "the forger's own honest line was not relayed");
}

void HostileNamesFault(Row& row) {
  // Names that would break a transcript line, fake the server, or pass for
  // an honest participant's; and a welcome whose name runs past the data.
  std::string overlong = WireText(Welcome("x")).substr(0, 2);
  overlong += std::string(
      "\xFD\x03"
      "ab\0",
      5);  // declares 1021 name bytes, carries three
  const std::vector<std::pair<std::string, std::string>> welcomes = {
      {"carol says :\\r\\nok\\r\\n\\r\\nbob", WireText(Welcome("carol says :\r\nok\r\n\r\nbob"))},
      {"!!! SERVER !!!", WireText(Welcome(SERVER_SHUTDOWN_NAME))},
      {"!!! Server !!!", WireText(Welcome("!!! Server !!!"))},
      {"honest1 + U+200B", WireText(Welcome("honest1\xE2\x80\x8B"))},
      {"\"honest2 \"", WireText(Welcome("honest2 "))},
      {"U+202E inside", WireText(Welcome("eve\xE2\x80\xAE"
                                         "evil"))},
      {"1021 declared, \"ab\\0\" sent", overlong},
  };
  // The server's name in another case goes second, alone: were the first one
  // accepted, it would be refused as its duplicate and prove nothing.
  std::string kept;
  int closed = 0;
  for (const auto& batch : {std::vector<size_t>{0, 1, 3, 4, 5, 6}, std::vector<size_t>{2}}) {
    auto conns = ConnectMany(static_cast<int>(batch.size()), port, 10s);
    for (size_t i = 0; i < conns.size(); ++i) SendNow(conns[i], welcomes[batch[i]].second);
    IdleUntil([&] { return CountClosedByServer(conns) == static_cast<int>(conns.size()); }, 5s, {&conns});
    Idle(500ms, {&conns});
    for (size_t i = 0; i < conns.size(); ++i) {
      if (!conns[i].closedByServer) kept += (kept.empty() ? "" : ", ") + welcomes[batch[i]].first;
    }
    closed += CountClosedByServer(conns);
    CloseAll(conns);
    // Whoever got in is gone again before the next batch.
    IdleUntil(
        [] {
          std::lock_guard<std::mutex> guard(suite.mutex);
          int in = 0;
          for (const auto& o : suite.seen) {
            for (const auto& [name, count] : o.joined) in += count;
            for (const auto& [name, count] : o.departed) in -= count;
          }
          return in <= 0;
        },
        5s);
  }
  int announced;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    announced = 0;
    for (const auto& o : suite.seen) {
      for (const auto& [name, count] : o.joined) announced += count;
    }
  }
  row.outcome = std::to_string(closed) + "/" + std::to_string(welcomes.size()) + " closed by the server, " +
                std::to_string(announced) + " arrivals seen by the honest participants" +
                (kept.empty() ? "" : "; kept: " + kept);
  Expect(row, kept.empty(), "hostile nicknames accepted: " + kept);
  Expect(row, announced == 0, "the arrival of a hostile nickname was announced");
}

void DepartureThenLinesFault(Row& row) {
  // A departure, then a public and a private line, all in one write: nothing
  // said after leaving may reach anyone.
  auto leaver = ConnectMany(1, port, 10s);
  SendNow(leaver[0], WireText(Welcome("leaver")));
  IdleUntil([] { return suite.Joined("leaver") == 1; }, 5s, {&leaver});
  SendNow(leaver[0], WireText(Departure("leaver")) + WireText(Says("leaver", "said after leaving")) +
                         WireText(Private("honest1", "leaver", "whispered after leaving")));
  const bool left = IdleUntil([] { return suite.Departed("leaver") == 1; }, 5s, {&leaver});
  // Honest lines said from now on come after anything the server did with those.
  Idle(500ms, {&leaver});
  IdleUntil([] { return suite.CaughtUp(); }, CATCH_UP, {&leaver});
  int says, privates;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    says = suite.seen[0].othersSays + suite.seen[1].othersSays;
    privates = suite.seen[0].privates + suite.seen[1].privates;
  }
  CloseAll(leaver);
  row.outcome = std::string(left ? "departure seen" : "NO departure seen") +
                "; after it the leaver's public line seen " + std::to_string(says) + " times, its private line " +
                std::to_string(privates) + " times";
  Expect(row, left, "the departure was not relayed");
  Expect(row, says == 0 && privates == 0, "lines sent after the sender's departure were relayed");
}

void BrowserRequestsFault(Row& row) {
  // Requests the page never makes, each refused with an answer and closed;
  // then requests dribbled in a header every half second, dropped at the
  // identification time like any idle newcomer.
  const std::string origin = "http://127.0.0.1:" + std::to_string(port);
  const std::vector<std::string> requests = {
      "GET / HTTP/1.1\r\nX-Pad: " + std::string(9 * 1024, 'a') + "\r\n\r\n",
      "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello",
      UpgradeRequest(port, "http://evil.example:" + std::to_string(port)),
      BrowserUpgrade(port) + BrowserFrame("not a message, and sent as text").replace(0, 1, "\x81"),
      "GET /../../etc/passwd HTTP/1.1\r\n\r\n",
  };
  auto refused = ConnectMany(static_cast<int>(requests.size() * 4), port, 10s);
  for (size_t i = 0; i < refused.size(); ++i) SendNow(refused[i], requests[i % requests.size()]);
  auto dribblers = ConnectMany(10, port, 10s);
  for (auto& d : dribblers) SendNow(d, "GET / HTTP/1.1\r\n");
  auto lastDribble = Clock::now();
  IdleUntil(
      [&] {
        if (Clock::now() - lastDribble >= 500ms) {
          for (auto& d : dribblers) SendNow(d, "X-Slow: 1\r\n");
          lastDribble = Clock::now();
        }
        return CountClosedByServer(refused) + CountClosedByServer(dribblers) ==
               static_cast<int>(refused.size() + dribblers.size());
      },
      14s, {&refused, &dribblers});
  int answered = 0;
  for (const auto& r : refused) answered += r.closedByServer && r.bytesIn > 0 ? 1 : 0;
  double earliest = 1e9;
  for (const auto& d : dribblers) {
    if (d.closedByServer) earliest = std::min(earliest, Ms(d.closedAt - d.connectedAt) / 1000);
  }
  int announced;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    announced = static_cast<int>(suite.seen[0].joined.size() + suite.seen[1].joined.size());
  }
  char text[200];
  std::snprintf(text, sizeof text,
                "%d/%zu answered and closed (431, 405, 403, a text frame, 404); %d/10 dribbled requests closed "
                "from %.1f s on; %d announced",
                answered, refused.size(), CountClosedByServer(dribblers), earliest, announced);
  row.outcome = text;
  Expect(row, answered == static_cast<int>(refused.size()), "a refused request was left open or got no answer");
  Expect(row, CountClosedByServer(dribblers) == 10, "a dribbled request was never dropped");
  Expect(row, earliest >= 9.5, "a dribbled request was dropped before the identification time");
  Expect(row, announced == 0, "a refused browser was announced");
  CloseAll(refused);
  CloseAll(dribblers);
}

// One browser, joined: the upgrade answered, then its welcome framed.
std::vector<Raw> JoinBrowser(const std::string& name, int receiveBuffer = 0) {
  auto browser = ConnectMany(1, port, 10s, receiveBuffer);
  SendNow(browser[0], BrowserUpgrade(port));
  Idle(200ms, {&browser});
  SendNow(browser[0], BrowserFrame(WireText(Welcome(name))));
  IdleUntil([&] { return suite.Joined(name) == 1; }, 5s, {&browser});
  return browser;
}

void BrowserFlooderFault(Row& row) {
  // A browser sending 900-character lines as fast as the host takes them.
  auto flooder = JoinBrowser("webflood");
  const std::string line = BrowserFrame(WireText(Says("webflood", std::string(900, 'F'))));
  size_t offered = 0;
  const auto began = Clock::now();
  while (Clock::now() - began < 8s) {
    Flush(flooder[0]);
    while (Offer(flooder[0], line)) ++offered;
    Idle(10ms, {&flooder});
  }
  const bool kept = !flooder[0].closedByServer;
  CloseAll(flooder);
  const bool left = IdleUntil([] { return suite.Departed("webflood") == 1; }, 10s);
  int relayed;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    relayed = std::min(suite.seen[0].othersSays, suite.seen[1].othersSays);
  }
  char text[200];
  std::snprintf(text, sizeof text, "%d of its lines relayed to each in 8 s (%zu framed by it); %s, then left", relayed,
                offered, kept ? "held back, not dropped" : "DROPPED");
  row.outcome = text;
  Expect(row, left, "the flooding browser's departure was not seen");
  std::lock_guard<std::mutex> guard(suite.mutex);
  Expect(row, suite.maxLatencyMs <= 2000, "honest lines waited behind the flooding browser");
}

void BrowserSleeperFault(Row& row) {
  auto sleeper = JoinBrowser("websleeper", 4096);
  FillNonReader(row, sleeper, "websleeper", "webloud", "browser that never reads");
}

// Every failed check of the whole run, by fault, for the closing summary.
std::vector<std::string> failed;

bool RunSuite() {
  const std::vector<std::string> env = {
      "ASAN_OPTIONS=" + std::string(getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "") + ":quarantine_size_mb=16"};
  std::string error;
  // The phases open hundreds of connections from this machine at once: the
  // connection rate has a phase of its own, against its own host.
  if (!server.Start(participantPath, {.extraEnv = env, .connectRate = 10000}, error)) {
    std::fprintf(stderr, "the server did not start (%s)\n", error.c_str());
    return false;
  }
  port = server.Port();
  StartHonest(0);
  // honest2 joins once honest1 is in, so honest1 sees its arrival.
  std::this_thread::sleep_for(300ms);
  StartHonest(1);
  const bool joined = IdleUntil(
      [] {
        std::lock_guard<std::mutex> guard(suite.mutex);
        return suite.seen[0].joined.count("honest2") != 0;
      },
      10s);
  if (!joined) {
    std::fprintf(stderr, "the honest participants did not both join\n");
    return false;
  }
  talking = true;
  std::thread talker(Talk);
  std::thread sampler(Sample);

  Phase("quiet (baseline)", [](Row& row) {
    Idle(2s);
    row.outcome = "honest chat only";
  });
  baselineRssKb = rows.back().rssEndKb;
  Phase("200 connections sending random bytes", RandomBytesFault);
  Phase("30 connections that send nothing", SilentFault);
  Phase("half a message, then silence", HalfMessageFault);
  Phase("70 connections at once", SeventyFault);
  Phase("clients killed mid-message", KilledFault);
  Phase("a client that stops reading", SleeperFault);
  Phase("900-character lines as fast as possible", FlooderFault);
  Phase("duplicate nicknames in other cases", DuplicateFault);
  Phase("forged lines and departures", ForgeryFault);
  Phase("hostile nicknames", HostileNamesFault);
  Phase("a departure, then lines, in one write", DepartureThenLinesFault);
  Phase("requests no page makes, and dribbled ones", BrowserRequestsFault);
  Phase("a browser flooding 900-character lines", BrowserFlooderFault);
  Phase("a browser that stops reading", BrowserSleeperFault);
  Phase("after all faults", [](Row& row) {
    Idle(2s);
    row.outcome = "honest chat only";
  });

  talking = false;
  talker.join();
  // Honest lines in the same order at both participants.
  bool sameOrder;
  {
    std::lock_guard<std::mutex> guard(suite.mutex);
    sameOrder = suite.order[0] == suite.order[1];
    suite.closing = true;
  }
  for (auto& h : honest) CloseFd(h.child.in);
  int honestStatus[2];
  for (int i = 0; i < 2; ++i) {
    honestStatus[i] = WaitExit(honest[i].child.pid, 10s);
    honest[i].reader.join();
    CloseFd(honest[i].child.out);
  }
  sampling = false;
  sampler.join();
  const int serverStatus = server.Stop(10s);

  std::printf(
      "\nFault suite against the headless server on 127.0.0.1:%u (honest lines every %lld ms from each of two "
      "participants)\n\n",
      unsigned{port}, static_cast<long long>(HONEST_PERIOD.count()));
  std::printf(
      "| fault | outcome | honest lines sent / received (both) | max latency ms | honest participants also saw | "
      "server CPU s (%% of the phase) | server RSS MB start / peak / end | server fds start / end | verdict |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  bool ok = true;
  for (const auto& r : rows) {
    ok = ok && r.failures.empty();
    std::printf("| %s | %s | %zu / %zu | %.0f | %s | %.2f (%.0f%%) | %.1f / %.1f / %.1f | %d / %d | %s |\n",
                r.fault.c_str(), r.outcome.c_str(), r.honestSent, r.honestReceived, r.maxLatencyMs,
                r.othersSeen.c_str(), r.cpuSeconds, r.seconds > 0 ? 100 * r.cpuSeconds / r.seconds : 0.0,
                r.rssStartKb / 1024.0, r.rssPeakKb / 1024.0, r.rssEndKb / 1024.0, r.fdsStart, r.fdsEnd,
                r.failures.empty() ? "ok" : r.failures.front().c_str());
  }
  std::printf("\nhonest lines in the same order at both: %s; honest exits %d %d; server exit %d\n",
              sameOrder ? "yes" : "NO", honestStatus[0], honestStatus[1], serverStatus);
  ok = ok && sameOrder && honestStatus[0] == 0 && honestStatus[1] == 0 && serverStatus == 0;
  for (const auto& r : rows) {
    for (const auto& f : r.failures) failed.push_back(r.fault + ": " + f);
  }
  if (!sameOrder) failed.push_back("honest lines in different orders at the two participants");
  if (honestStatus[0] != 0 || honestStatus[1] != 0 || serverStatus != 0)
    failed.push_back("a process of the suite ended badly");
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int floodSeconds = 25, stuckSeconds = 20;
  std::string only;
  participantPath = JASELO_PARTICIPANT;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--flood-seconds" && hasValue) {
      floodSeconds = std::atoi(argv[++i]);
    } else if (arg == "--stuck-seconds" && hasValue) {
      stuckSeconds = std::atoi(argv[++i]);
    } else if (arg == "--only" && hasValue) {
      only = argv[++i];
    } else if (arg.rfind("--", 0) != 0) {
      participantPath = arg;
    } else {
      std::fprintf(
          stderr,
          "usage: jaselo-faults [--flood-seconds N] [--stuck-seconds N] [--only suite|blocked|floods|stuck|pushed] "
          "[path/to/jaselo-participant]\n");
      return 2;
    }
  }
  if (floodSeconds < 1 || stuckSeconds < 1) {
    std::fprintf(stderr, "durations are whole seconds, at least 1\n");
    return 2;
  }
  if (access(participantPath.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "no participant program at %s\n", participantPath.c_str());
    return 2;
  }
  signal(SIGPIPE, SIG_IGN);
  // Whole lines as they come, in order with the progress lines on stderr.
  setvbuf(stdout, nullptr, _IOLBF, 0);
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }
  // The host's key and the hosts met go to a folder of the run's own.
  char data[] = "/tmp/jaselo-faults-XXXXXX";
  if (mkdtemp(data) == nullptr) return 2;
  setenv("XDG_DATA_HOME", data, 1);
  struct RemoveData {
    const char* path;
    ~RemoveData() {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
    }
  } removeData{data};
  const auto wanted = [&only](const char* name) { return only.empty() || only == name; };
  const auto add = [](const std::string& scenario, const Failures& f) {
    for (const auto& what : f) failed.push_back(scenario + ": " + what);
  };
  if (wanted("suite")) RunSuite();
  if (wanted("blocked")) add("blocked output", BlockedOutputScenario(participantPath));
  if (wanted("floods")) add("floods", FloodScenario(participantPath, floodSeconds));
  if (wanted("stuck")) add("stuck readers", StuckReadersScenario(participantPath, stuckSeconds));
  if (wanted("pushed")) add("pushed participant", PushedParticipantScenario(participantPath));

  if (failed.empty()) {
    std::printf("\nFAULT SUITE PASSED\n");
    return 0;
  }
  std::printf("\nFAULT SUITE FAILED, %zu checks:\n", failed.size());
  for (const auto& f : failed) std::printf("  - %s\n", f.c_str());
  return 1;
}
