#include "floormodel.h"

#include <algorithm>
#include <deque>
#include <numeric>
#include <random>

namespace {
struct Pending {
  size_t line;
  uint32_t left;
  int64_t arrival;
};

// A socket thread over a set of connections: pause, wait until something has
// arrived (at once if it already has), take up to `budgetPerPass` bytes from every
// connection that has data (the host: one receive; a client: all that waits,
// up to its pass limit), queue each message whose last byte came. A thread
// woken by an arrival also finds what comes within `wake`, as a real thread
// does by the time it runs; a `busy` one (a flood keeps data waiting on
// other connections) never waits for an arrival and keeps its pass cadence.
// `queued[line]` is when the line's message was complete.
void SocketThread(std::vector<std::deque<Pending>>& connections, uint32_t budgetPerPass, bool busy,
                  int64_t firstPassEnd, int64_t pass, int64_t wake, std::vector<int64_t>& queued) {
  size_t remaining = 0;
  for (const auto& c : connections) remaining += c.size();
  int64_t t = firstPassEnd;
  std::vector<size_t> completed;
  while (remaining > 0) {
    int64_t earliest = INT64_MAX;
    for (const auto& c : connections) {
      if (!c.empty()) earliest = std::min(earliest, c.front().arrival);
    }
    int64_t horizon = t;
    if (earliest > t && busy) {
      t += (earliest - t + pass - 1) / pass * pass;
      horizon = t;
    } else if (earliest > t) {
      t = earliest;
      horizon = t + wake;
    }
    int64_t received = t;
    completed.clear();
    for (auto& c : connections) {
      uint32_t budget = budgetPerPass;
      while (budget > 0 && !c.empty() && c.front().arrival <= horizon) {
        Pending& p = c.front();
        const uint32_t take = std::min(budget, p.left);
        p.left -= take;
        budget -= take;
        received = std::max(received, p.arrival);
        if (p.left == 0) {
          completed.push_back(p.line);
          c.pop_front();
          --remaining;
        }
      }
    }
    for (size_t line : completed) queued[line] = received;
    t = received + pass;
  }
}

// The first pass of a poll loop (phase, period) that begins at or after t.
int64_t NextTick(int64_t t, int64_t phase, int64_t pass) {
  const int64_t d = t - phase;
  const int64_t k = d >= 0 ? (d + pass - 1) / pass : -((-d) / pass);
  return phase + k * pass;
}
}  // namespace

double BurstBoundMs(double senderBytes, double receiverBytes) {
  const double passes = std::max(senderBytes / kReceiveBytes, receiverBytes / kClientPassBytes);
  return passes * (kSocketPassNs / 1e6);
}

FloorResult ReplayFloor(const std::vector<FloorLine>& lines, int senders, int receivers, int rounds, uint32_t seed,
                        bool flooded) {
  FloorResult result;
  result.roundDrainMs.assign(static_cast<size_t>(rounds), 0.0);
  if (lines.empty() || receivers < 1) return result;

  // Enough phase draws to smooth the result, few enough to stay quick.
  const double work = static_cast<double>(lines.size()) * receivers;
  result.draws = static_cast<int>(std::clamp(4.0e6 / work, 1.0, 32.0));
  result.latencyMs.reserve(static_cast<size_t>(work * result.draws));

  std::vector<int64_t> roundStart(static_cast<size_t>(rounds), INT64_MAX);
  for (const auto& l : lines) roundStart[l.round] = std::min(roundStart[l.round], l.sendNs);
  const int64_t origin = lines.front().sendNs - std::max(kSocketPassNs, kPollPassNs);

  std::mt19937_64 rng(seed);
  std::uniform_int_distribution<int64_t> socketPhase(0, kSocketPassNs - 1);
  std::uniform_int_distribution<int64_t> pollPhase(0, kPollPassNs - 1);
  // No pass lasts exactly its pause: each loop's runs a little over, by its
  // own amount, so the loops' phases drift against each other as they do in
  // a real run, rather than staying locked for the whole run.
  std::uniform_int_distribution<int64_t> overrun(0, kPassOverrunNs);
  auto period = [&](int64_t pause) { return pause + overrun(rng); };
  const size_t n = lines.size();
  std::vector<int64_t> hostQueued(n), relayed(n), clientQueued(n);
  std::vector<size_t> relayOrder(n);

  for (int draw = 0; draw < result.draws; ++draw) {
    // Host socket thread: one connection per sender, in ascending order.
    std::vector<std::deque<Pending>> in(static_cast<size_t>(senders));
    for (size_t i = 0; i < n; ++i) in[lines[i].sender].push_back({i, lines[i].bytes, lines[i].sendNs});
    // Lines a client writes back to back reach its connection together.
    SocketThread(in, kReceiveBytes, flooded, origin + socketPhase(rng), period(kSocketPassNs), kWakeNs, hostQueued);

    // Host poll loop: relays in the order the lines were queued.
    const int64_t hostPoll = origin + pollPhase(rng);
    const int64_t hostPollPass = period(kPollPassNs);
    std::iota(relayOrder.begin(), relayOrder.end(), size_t{0});
    std::stable_sort(relayOrder.begin(), relayOrder.end(), [&](size_t a, size_t b) {
      if (hostQueued[a] != hostQueued[b]) return hostQueued[a] < hostQueued[b];
      return lines[a].sender < lines[b].sender;
    });
    for (size_t i = 0; i < n; ++i) {
      relayed[i] = NextTick(hostQueued[i], hostPoll, hostPollPass);
      result.upstreamMs.push_back(static_cast<float>((relayed[i] - lines[i].sendNs) / 1e6));
    }
    std::vector<bool> firstOfPass(n, false);
    for (size_t k = 0; k < n; ++k) {
      firstOfPass[relayOrder[k]] = k == 0 || relayed[relayOrder[k]] != relayed[relayOrder[k - 1]];
    }

    std::vector<int64_t> lastDelivery(static_cast<size_t>(rounds), INT64_MIN);
    for (int r = 0; r < receivers; ++r) {
      // A poll pass relays its lines one at a time, each to every receiver
      // in turn: a receiver's copies of consecutive lines come a round of
      // sends apart. With many receivers, a receiver woken by the first copy
      // finds only that one and the rest wait for its next pass; with few,
      // it finds several.
      std::vector<std::deque<Pending>> one(1);
      int64_t previous = INT64_MIN, offset = 0;
      for (size_t i : relayOrder) {
        offset = relayed[i] == previous ? offset + 1 : 0;
        previous = relayed[i];
        one[0].push_back({i, lines[i].bytes, relayed[i] + offset * receivers * kSendNs});
      }
      SocketThread(one, kClientPassBytes, flooded, origin + socketPhase(rng), period(kSocketPassNs), kWakeNs,
                   clientQueued);
      const int64_t clientPoll = origin + pollPhase(rng);
      const int64_t clientPollPass = period(kPollPassNs);
      for (size_t i = 0; i < n; ++i) {
        const int64_t delivered = NextTick(clientQueued[i], clientPoll, clientPollPass);
        result.latencyMs.push_back(static_cast<float>((delivered - lines[i].sendNs) / 1e6));
        (firstOfPass[i] ? result.downstreamFirstMs : result.downstreamLaterMs)
            .push_back(static_cast<float>((delivered - relayed[i]) / 1e6));
        auto& last = lastDelivery[lines[i].round];
        last = std::max(last, delivered);
      }
    }
    for (int r = 0; r < rounds; ++r) {
      if (lastDelivery[r] != INT64_MIN) result.roundDrainMs[r] += (lastDelivery[r] - roundStart[r]) / 1e6;
    }
  }
  for (auto& d : result.roundDrainMs) d /= result.draws;
  return result;
}
