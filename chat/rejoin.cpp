#include "chat/rejoin.h"

#include <algorithm>

#include "net/tcpip.h"
#include "protocol/extension.h"

RejoinBackoff::RejoinBackoff(std::chrono::milliseconds base, uint32_t seed) : base(base), random(seed) {}

std::chrono::milliseconds RejoinBackoff::Next() {
  const int64_t factor = tries < 5 ? int64_t{1} << tries : 30;
  tries = std::min(tries + 1, 5u);
  const int64_t wait = base.count() * factor;
  std::uniform_int_distribution<int64_t> spread(-wait / 10, wait / 10);
  return std::chrono::milliseconds(wait + spread(random));
}

RejoinWatch::RejoinWatch(bool tryAgain, RejoinBackoff backoff) : tryAgain(tryAgain), backoff(backoff) {}

void RejoinWatch::Started(RejoinClock::time_point now) {
  afterLoss = state != State::Idle;
  // Without tries a refusal means nothing different: every end is a loss.
  state = tryAgain ? State::Trial : State::Held;
  since = now;
}

void RejoinWatch::WaitForTry(RejoinClock::time_point now) {
  if (!tryAgain) {
    state = State::Over;
    return;
  }
  state = State::Waiting;
  due = now + backoff.Next();
}

RejoinWatch::Notice RejoinWatch::Look(bool up, bool received, RejoinClock::time_point now) {
  switch (state) {
    case State::Trial:
      if (!up && !received) {
        state = State::Over;
        return Notice::Refused;
      }
      if (!up) {
        // Taken in, then gone at once: after a loss the user has been told
        // already, and the tries go on.
        WaitForTry(now);
        return afterLoss ? Notice::None : Notice::Lost;
      }
      if (!received && now - since < REJOIN_HOLD_MOMENT) return Notice::None;
      state = State::Held;
      backoff.Reset();
      return afterLoss ? Notice::Restored : Notice::None;
    case State::Held:
      if (up) return Notice::None;
      WaitForTry(now);
      return Notice::Lost;
    default: return Notice::None;
  }
}

void RejoinWatch::KeptOut(uint32_t seconds, RejoinClock::time_point now) {
  if (seconds == KEPT_OUT_UNTIL_STOP) return GiveUp();
  if (!tryAgain || (state != State::Waiting && state != State::Over)) return;
  const auto until = now + std::chrono::seconds(std::max<uint32_t>(seconds, 1));
  due = state == State::Waiting ? std::max(due, until) : until;
  state = State::Waiting;
}

void RejoinWatch::TryIfDue(const std::function<bool()>& join) {
  if (state != State::Waiting || RejoinClock::now() < due) return;
  if (join()) Started(RejoinClock::now());
  else due = RejoinClock::now() + backoff.Next();
}

int RejoinWatch::MillisecondsToNextLook(RejoinClock::time_point now) const {
  RejoinClock::time_point next;
  if (state == State::Waiting) next = due;
  else if (state == State::Trial) next = since + REJOIN_HOLD_MOMENT;
  else return -1;
  return static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(next - now).count()));
}

void PrepareRejoinTry(CTCPIP& client) {
  client.Cleanup();
  TransportLimits limits;
  limits.connectTimeout = REJOIN_CONNECT_TIMEOUT;
  client.SetLimits(limits);
}
