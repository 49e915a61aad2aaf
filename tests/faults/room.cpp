#include "room.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace std::chrono_literals;

std::string EventField(const std::string& line, const std::string& key) {
  const size_t at = line.find(" " + key + "=\"");
  if (at == std::string::npos) return {};
  std::string out;
  for (size_t i = at + key.size() + 3; i < line.size(); ++i) {
    if (line[i] == '"') break;
    if (line[i] == '\\' && i + 1 < line.size()) ++i;
    out += line[i];
  }
  return out;
}

LatencyStats StatsOf(std::vector<double> ms) {
  LatencyStats s;
  s.count = ms.size();
  if (ms.empty()) return s;
  std::sort(ms.begin(), ms.end());
  // Nearest rank.
  const auto rank = [&ms](double p) {
    const auto r = static_cast<size_t>(std::ceil(p * static_cast<double>(ms.size())));
    return ms[std::min(ms.size(), std::max<size_t>(r, 1)) - 1];
  };
  s.p50Ms = rank(0.50);
  s.p99Ms = rank(0.99);
  s.maxMs = ms.back();
  return s;
}

Room::~Room() { Stop(); }

bool Room::StartHost(bool blockedOutput) {
  const char* asan = getenv("ASAN_OPTIONS");
  std::string error;
  if (!host.Start(participantPath,
                  {.quiet = !blockedOutput,
                   .drainOutput = !blockedOutput,
                   .extraEnv = {"ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":quarantine_size_mb=16"}},
                  error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  port = host.Port();
  // One page: a few dozen diagnostic lines fill it.
  if (blockedOutput) fcntl(host.Output(), F_SETPIPE_SZ, 4096);
  return true;
}

bool Room::StartHonest(int n, const std::string& namePrefix) {
  prefix = namePrefix;
  members.reserve(static_cast<size_t>(n));
  {
    std::lock_guard<std::mutex> guard(mutex);
    sent.assign(static_cast<size_t>(n), {});
    got.assign(static_cast<size_t>(n), std::vector<std::vector<Clock::time_point>>(static_cast<size_t>(n)));
    next.assign(static_cast<size_t>(n), std::vector<size_t>(static_cast<size_t>(n), 0));
  }
  for (int i = 0; i < n; ++i) {
    const std::string name = prefix + std::to_string(i + 1);
    const Child child =
        Spawn({participantPath, "--nick", name, "--host", "127.0.0.1", "--port", std::to_string(port), "--quiet"}, true,
              true);
    size_t index;
    {
      // The readers of the members already in look the names up meanwhile.
      std::lock_guard<std::mutex> guard(mutex);
      members.push_back(Member{name, child, {}, false, {}, {}});
      index = members.size() - 1;
    }
    members[index].reader = std::thread([this, index] {
      LineReader lines(members[index].child.out);
      std::string line;
      while (lines.Next(line, 3600s)) OnLine(index, line);
      std::lock_guard<std::mutex> guard(mutex);
      members[index].lost = true;
    });
    if (i == 0) {
      std::this_thread::sleep_for(300ms);
      continue;
    }
    // Everyone already in sees the newcomer: all of them are connected.
    const auto deadline = Clock::now() + 10s;
    for (;;) {
      bool all = true;
      {
        std::lock_guard<std::mutex> guard(mutex);
        for (int k = 0; k < i; ++k) {
          const auto& seen = members[static_cast<size_t>(k)].joinedAfter;
          all = all && std::find(seen.begin(), seen.end(), i) != seen.end();
        }
      }
      if (all) break;
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
  }
  return true;
}

std::string Room::TextOf(size_t sender, size_t seq, size_t pad) const {
  std::string text = "h" + std::to_string(sender + 1) + " " + std::to_string(seq) + " ";
  for (size_t i = 0; i < pad; ++i) text += static_cast<char>('a' + (seq + i) % 26);
  return text;
}

void Room::OnLine(size_t receiver, const std::string& line) {
  static const std::string says = "SAYS name=\"";
  if (line.compare(0, says.size(), says) == 0) {
    // Most lines under a flood are somebody else's: skip them cheaply.
    if (line.compare(says.size(), prefix.size(), prefix) != 0) return;
    const std::string name = EventField(line, "name");
    const std::string text = EventField(line, "text");
    const auto now = Clock::now();
    std::lock_guard<std::mutex> guard(mutex);
    size_t sender = members.size();
    for (size_t s = 0; s < members.size(); ++s) sender = members[s].name == name ? s : sender;
    size_t tag = 0, seq = 0;
    if (sender == members.size() || std::sscanf(text.c_str(), "h%zu %zu", &tag, &seq) != 2 || tag != sender + 1 ||
        seq >= sent[sender].size() || text != TextOf(sender, seq, padding)) {
      Violate(members[receiver].name + " got a wrong line under " + name + ": \"" + text.substr(0, 40) + "\"");
      return;
    }
    if (seq != next[receiver][sender]) {
      Violate(members[receiver].name + " expected line " + std::to_string(next[receiver][sender]) + " of " + name +
              ", got " + std::to_string(seq) + (seq < next[receiver][sender] ? " (doubled or reordered)" : " (lost)"));
    }
    next[receiver][sender] = std::max(next[receiver][sender], seq + 1);
    auto& arrivals = got[receiver][sender];
    if (arrivals.size() <= seq) arrivals.resize(seq + 1);
    if (arrivals[seq] == Clock::time_point{}) arrivals[seq] = now;
  } else if (line.rfind("JOINED ", 0) == 0) {
    const std::string name = EventField(line, "name");
    std::lock_guard<std::mutex> guard(mutex);
    members[receiver].joinedNames.push_back(name);
    for (size_t s = 0; s < members.size(); ++s) {
      if (members[s].name == name) members[receiver].joinedAfter.push_back(static_cast<int>(s));
    }
  } else if (line == "LOST") {
    std::lock_guard<std::mutex> guard(mutex);
    members[receiver].lost = true;
    if (talking) Violate(members[receiver].name + " lost its connection");
  }
}

void Room::Violate(const std::string& what) {
  if (violations.size() < 40) violations.push_back(what);
}

void Room::StartTalking(std::chrono::milliseconds period, size_t pad) {
  padding = pad;
  talking = true;
  talker = std::thread([this, period, pad] { Talk(period, pad); });
}

void Room::Talk(std::chrono::milliseconds period, size_t pad) {
  // The participants take turns across the period, so their lines do not all
  // reach the host in the same instant.
  const auto step = period / static_cast<int>(members.size());
  auto due = Clock::now();
  while (talking) {
    for (size_t s = 0; s < members.size() && talking; ++s) {
      std::string text;
      {
        std::lock_guard<std::mutex> guard(mutex);
        text = TextOf(s, sent[s].size(), pad) + "\n";
        sent[s].push_back(Clock::now());
      }
      WriteAll(members[s].child.in, text);
      due += step;
      std::this_thread::sleep_until(due);
    }
  }
}

void Room::StopTalking() {
  talking = false;
  if (talker.joinable()) talker.join();
}

bool Room::WaitCaughtUp(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    bool all = true;
    {
      std::lock_guard<std::mutex> guard(mutex);
      for (size_t r = 0; r < members.size(); ++r) {
        for (size_t s = 0; s < members.size(); ++s) all = all && (r == s || next[r][s] >= sent[s].size());
      }
    }
    if (all) return true;
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

void Room::ForEachDelivery(Clock::time_point from, Clock::time_point to,
                           const std::function<void(Clock::duration sinceFrom, const double* latencyMs)>& visit) const {
  std::lock_guard<std::mutex> guard(mutex);
  for (size_t s = 0; s < members.size(); ++s) {
    for (size_t seq = 0; seq < sent[s].size(); ++seq) {
      if (sent[s][seq] < from || sent[s][seq] > to) continue;
      for (size_t r = 0; r < members.size(); ++r) {
        if (r == s) continue;
        const bool came = got[r][s].size() > seq && got[r][s][seq] != Clock::time_point{};
        const double ms = came ? std::chrono::duration<double, std::milli>(got[r][s][seq] - sent[s][seq]).count() : 0;
        visit(sent[s][seq] - from, came ? &ms : nullptr);
      }
    }
  }
}

std::vector<LatencyStats> Room::PerMinute(Clock::time_point from, Clock::time_point to) const {
  std::vector<std::vector<double>> minutes;
  ForEachDelivery(from, to, [&minutes](Clock::duration since, const double* ms) {
    const auto minute = static_cast<size_t>(std::chrono::duration_cast<std::chrono::minutes>(since).count());
    if (minutes.size() <= minute) minutes.resize(minute + 1);
    if (ms) minutes[minute].push_back(*ms);
  });
  std::vector<LatencyStats> out;
  for (auto& m : minutes) out.push_back(StatsOf(std::move(m)));
  return out;
}

LatencyStats Room::Overall(Clock::time_point from, Clock::time_point to) const {
  std::vector<double> all;
  ForEachDelivery(from, to, [&all](Clock::duration, const double* ms) {
    if (ms) all.push_back(*ms);
  });
  return StatsOf(std::move(all));
}

size_t Room::Missing(Clock::time_point from, Clock::time_point to) const {
  size_t missing = 0;
  ForEachDelivery(from, to, [&missing](Clock::duration, const double* ms) { missing += ms ? 0 : 1; });
  return missing;
}

std::vector<std::string> Room::Violations() const {
  std::lock_guard<std::mutex> guard(mutex);
  return violations;
}

int Room::Dropped() const {
  std::lock_guard<std::mutex> guard(mutex);
  int n = 0;
  for (const auto& m : members) n += m.lost ? 1 : 0;
  return n;
}

int Room::SeenJoined(const std::string& namePrefix) const {
  std::lock_guard<std::mutex> guard(mutex);
  if (members.empty()) return 0;
  const auto& names = members.front().joinedNames;
  return static_cast<int>(
      std::count_if(names.begin(), names.end(), [&](const std::string& n) { return n.rfind(namePrefix, 0) == 0; }));
}

double Room::CloseHost(std::chrono::milliseconds limit) {
  if (host.Pid() < 0) return -1;
  const auto began = Clock::now();
  const int status = host.Stop(limit);
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  return status == 0 ? seconds : -1;
}

void Room::Stop() {
  StopTalking();
  for (auto& m : members) {
    CloseFd(m.child.in);
    if (m.child.pid > 0) WaitExit(m.child.pid, 10s);
    m.child.pid = -1;
  }
  // A participant that never ended was killed above, which ends its output.
  for (auto& m : members) {
    if (m.reader.joinable()) m.reader.join();
    CloseFd(m.child.out);
  }
  if (host.Pid() > 0) CloseHost(10s);
}
