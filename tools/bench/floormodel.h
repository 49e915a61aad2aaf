#pragma once
// The loop floor: the latency a line would have if every loop it crosses
// cost nothing but its own waiting. A line sent by a client waits in four
// loops: the host's socket thread (a pause of PASS_PAUSE_MS per pass, then
// one receive of at most RECEIVE_SIZE bytes per connection; an idle thread
// wakes at once), the host's poll loop (a pass every POLL_PASS_MS, relaying
// all it finds), the receiver's socket thread (the same pause, then
// everything waiting, up to CLIENT_PASS_READ_LIMIT) and the receiver's poll
// loop. Replaying a run's own sends through that model gives what the loops
// alone cost; the measurement's excess over it is the cost of the
// processing, the kernel and the scheduling.

#include <cstdint>
#include <vector>

#include "chat/pollloop.h"
#include "net/passtiming.h"

struct FloorLine {
  int sender = 0;      // index of the sending client; also its socket order on the host
  int64_t sendNs = 0;  // when the send call was made
  uint32_t bytes = 0;  // the message's size on the wire (the relay is the same bytes)
  int round = 0;       // bursty workloads: which burst the line belongs to
};

struct FloorResult {
  std::vector<float> latencyMs;      // every (line, receiver), pooled over all phase draws
  std::vector<double> roundDrainMs;  // per round: first send to last delivery, mean over draws
  // The same latency in two segments: send to the host's relay (per line),
  // relay to the receiver's event (per delivery), split by whether the line
  // was the first its relay pass sent.
  std::vector<float> upstreamMs;
  std::vector<float> downstreamFirstMs;
  std::vector<float> downstreamLaterMs;
  int draws = 0;
};

// `lines` in the order they were sent. Every one of `receivers` receives
// every line. The loops' phases are drawn at random from `seed`, as many
// times as keeps the work bounded. `flooded`: other clients flood the host
// beside these lines, so no socket thread is ever idle; their lines cost the
// loops nothing else, since the host reads each connection apart and, with
// at most 63 connections, relays under 64 KiB per pass to each receiver.
FloorResult ReplayFloor(const std::vector<FloorLine>& lines, int senders, int receivers, int rounds, uint32_t seed,
                        bool flooded = false);

constexpr int64_t kSocketPassNs = int64_t{PASS_PAUSE_MS} * 1'000'000;  // a socket thread's pause
constexpr int POLL_PASS_MS = 50;                                       // TEMP
constexpr int64_t kPollPassNs = int64_t{POLL_PASS_MS} * 1'000'000;     // a poll loop's pause
constexpr uint32_t kReceiveBytes = RECEIVE_SIZE;                       // the host: one receive per connection per pass
// A client's socket thread takes everything waiting each pass, in receives of
// kReceiveBytes, up to this much.
constexpr uint32_t kClientPassBytes = CLIENT_PASS_READ_LIMIT;
// The throughput a burst cannot beat: the host takes kReceiveBytes a pass
// from each sender, a receiver kClientPassBytes a pass in all. `senderBytes`
// is the most any one sender wrote, `receiverBytes` what each receiver gets.
// With at most 63 connections the host reads under 64 KiB a pass, so the
// sender's side is the one that binds.
double BurstBoundMs(double senderBytes, double receiverBytes);
constexpr int64_t kPassOverrunNs = 1'000'000;  // the most a pass of the model runs over its pause
// The only times of their own the model gives the loops: a woken socket
// thread also takes what arrives within kWakeNs, as a real thread does by
// the time it runs; one send of a relay takes kSendNs, about a loopback send.
constexpr int64_t kWakeNs = 200'000;
constexpr int64_t kSendNs = 5'000;
