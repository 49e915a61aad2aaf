#pragma once
// A chat room of its own for the longer faults: a host process, honest
// participants (processes) that each say a numbered line at a steady pace,
// and a record of when every honest line reached every other honest
// participant, so that lines lost, cut, doubled or reordered show, and so
// does how late they came.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "childprocess.h"
#include "headlesshost.h"
#include "raw.h"

struct LatencyStats {
  size_t count = 0;
  double p50Ms = 0, p99Ms = 0, maxMs = 0;
};
LatencyStats StatsOf(std::vector<double> ms);
// The value of key="..." in a participant's event line, unescaped.
std::string EventField(const std::string& line, const std::string& key);

class Room {
 public:
  explicit Room(std::string participantPath) : participantPath(std::move(participantPath)) {}
  ~Room();
  Room(const Room&) = delete;
  Room& operator=(const Room&) = delete;

  // The host with --serve. With blockedOutput its diagnostics stay on (no
  // --quiet) and go to a one-page pipe that nobody reads after the LISTENING line.
  bool StartHost(bool blockedOutput = false);
  // n honest participants named prefix1..prefixN; true once each of them has
  // seen the arrival of every one that joined after it.
  bool StartHonest(int n, const std::string& prefix);
  // Each honest participant says one line every period; a line is its tag,
  // its number and `padding` characters that show a cut.
  void StartTalking(std::chrono::milliseconds period, size_t padding);
  void StopTalking();
  // True once every honest line said has reached every other honest participant.
  bool WaitCaughtUp(std::chrono::milliseconds limit);

  // Latency of the lines said between `from` and `to`, by the minute (from
  // `from`) in which they were said, and all together.
  std::vector<LatencyStats> PerMinute(Clock::time_point from, Clock::time_point to = Clock::time_point::max()) const;
  LatencyStats Overall(Clock::time_point from, Clock::time_point to = Clock::time_point::max()) const;
  // Deliveries (a line to one other honest participant) of the lines said
  // between `from` and `to` that never came.
  size_t Missing(Clock::time_point from, Clock::time_point to = Clock::time_point::max()) const;
  // What went wrong so far: wrong, doubled or reordered lines, dropped participants.
  std::vector<std::string> Violations() const;
  // Honest participants that lost their connection or ended.
  int Dropped() const;
  // Arrivals the first honest participant saw of names beginning with namePrefix.
  int SeenJoined(const std::string& namePrefix) const;

  // Closes the host's input as a user closes it; seconds until it ended, -1
  // when it did not end within the limit (it is then killed).
  double CloseHost(std::chrono::milliseconds limit);
  // Ends the honest participants (input closed) and the host if still running.
  void Stop();

  uint16_t Port() const { return port; }
  pid_t HostPid() const { return host.Pid(); }
  int HostOutput() const { return host.Output(); }
  const std::string& Path() const { return participantPath; }

 private:
  struct Member {
    std::string name;
    Child child;
    std::thread reader;
    bool lost = false;
    std::vector<int> joinedAfter;  // arrivals it saw, by member index
    std::vector<std::string> joinedNames;
  };
  void OnLine(size_t receiver, const std::string& line);
  void Talk(std::chrono::milliseconds period, size_t padding);
  std::string TextOf(size_t sender, size_t seq, size_t padding) const;
  void Violate(const std::string& what);
  // Every delivery of the lines said between from and to: when the line was
  // said, and its latency (null when it never came).
  void ForEachDelivery(Clock::time_point from, Clock::time_point to,
                       const std::function<void(Clock::duration sinceFrom, const double* latencyMs)>& visit) const;

  std::string participantPath;
  HeadlessHost host;  // its output drained, unless it is the blocked one
  uint16_t port = 0;
  std::string prefix;
  std::vector<Member> members;  // fixed once StartHonest returns

  mutable std::mutex mutex;
  std::vector<std::vector<Clock::time_point>> sent;              // [sender][seq]
  std::vector<std::vector<std::vector<Clock::time_point>>> got;  // [receiver][sender][seq]
  std::vector<std::vector<size_t>> next;                         // [receiver][sender]
  size_t padding = 0;
  std::vector<std::string> violations;
  std::atomic<bool> talking{false};
  std::thread talker;
};
