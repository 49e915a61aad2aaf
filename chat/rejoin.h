#pragma once
// Getting back into the chat after the own connection ended without the user
// leaving: when to try again, and what the end of each connection means. The
// window and the headless participant each look at their connection once per
// pass (Look) and then let the watch run a try when one is due (TryIfDue).

#include <chrono>
#include <cstdint>
#include <functional>
#include <random>

class CTCPIP;

using RejoinClock = std::chrono::steady_clock;

// A try connects with this bound instead of the first start's: a server on the
// LAN answers within milliseconds, and closing the window waits for a try
// that is under way.
constexpr std::chrono::milliseconds REJOIN_CONNECT_TIMEOUT{2000};
// Readies a client endpoint whose connection ended for a try: the old
// connection's state goes and the connect takes REJOIN_CONNECT_TIMEOUT.
void PrepareRejoinTry(CTCPIP& client);
// A new connection counts as taken in once it has stood this long, or once
// anything came from the server. A server that refuses a newcomer (its nickname
// is taken, the server is full) ends the connection as soon as it has read the
// welcome, well within this.
constexpr std::chrono::milliseconds REJOIN_HOLD_MOMENT{1000};

// Waits between tries: 1, 2, 4, 8 and 16 times the base, then 30 times it for
// every further try, each spread at random by up to a tenth either way, so
// that a room whose host restarted does not come back in the same instant.
class RejoinBackoff {
 public:
  explicit RejoinBackoff(std::chrono::milliseconds base = std::chrono::seconds(1),
                         uint32_t seed = std::random_device{}());
  std::chrono::milliseconds Next();
  void Reset() { tries = 0; }

 private:
  std::chrono::milliseconds base;
  unsigned tries = 0;
  std::mt19937 random;
};

class RejoinWatch {
 public:
  enum class Notice { None, Lost, Restored, Refused };

  // With `tryAgain` false every end is a loss and nothing is tried: the own
  // client of a host, whose end means its own server is gone, and a
  // participant told not to rejoin.
  RejoinWatch(bool tryAgain, RejoinBackoff backoff = RejoinBackoff());

  // A connection has started (the first one or a try): the welcome went out.
  void Started(RejoinClock::time_point now);
  // One look per pass: whether the connection is still up, and whether
  // anything came from the server since the last look. Says what the user is
  // to be told, at most once per change.
  Notice Look(bool up, bool received, RejoinClock::time_point now);
  // When a try is due, runs `join` (the owner readies its endpoint, then the
  // ordinary client start: true when it connected); a failed one makes the
  // next wait longer.
  void TryIfDue(const std::function<bool()>& join);
  // Lines may go out: the first connection until it ends, a try once it has
  // been taken in.
  bool Sendable() const { return state == State::Held || (state == State::Trial && !afterLoss); }
  // Nothing more will happen: the connection ended and no try will follow.
  bool Over() const { return state == State::Over; }
  // No try follows, whatever comes: a try found a host it must not join.
  void GiveUp() { state = State::Over; }
  // The host showed this participant out, or turned a try away, and lets its
  // address in again in `seconds` (KEPT_OUT_UNTIL_STOP: not before it stops,
  // and no try follows). Right after the Look that saw the end, the next try
  // is set for that moment, a second from now at the soonest.
  void KeptOut(uint32_t seconds, RejoinClock::time_point now);
  // How long the owner's loop may sleep before it must look again (a try
  // falls due, or a new connection has stood long enough to count as taken
  // in); negative when only a change of the connection matters.
  int MillisecondsToNextLook(RejoinClock::time_point now) const;

 private:
  enum class State { Idle, Trial, Held, Waiting, Over };
  void WaitForTry(RejoinClock::time_point now);

  bool tryAgain;
  RejoinBackoff backoff;
  State state = State::Idle;
  bool afterLoss = false;
  RejoinClock::time_point since{};
  RejoinClock::time_point due{};
};
