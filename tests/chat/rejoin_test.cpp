// When to try to join again; the ends against a real server are in the window's tests.
#include "chat/rejoin.h"

#include <gtest/gtest.h>

#include <set>

using namespace std::chrono_literals;

TEST(RejoinBackoff, DoublesFromTheBaseUpTo30TimesItEachSpreadByATenth) {
  std::set<int64_t> firstWaits;
  for (uint32_t seed = 1; seed <= 20; ++seed) {
    RejoinBackoff backoff(100ms, seed);
    for (int round = 0; round < 2; ++round) {
      for (const int64_t factor : {1, 2, 4, 8, 16, 30, 30, 30}) {
        const int64_t wait = backoff.Next().count();
        EXPECT_GE(wait, factor * 90) << factor;
        EXPECT_LE(wait, factor * 110) << factor;
      }
      backoff.Reset();  // a connection that held: the next loss starts over
    }
    firstWaits.insert(RejoinBackoff(1000ms, seed).Next().count());
  }
  EXPECT_GT(firstWaits.size(), 10u) << "a room must not come back in the same instant";
}

TEST(RejoinWatch, ARemovalHoldsTheNextTryUntilTheAddressIsLetInAgain) {
  RejoinWatch watch(true, RejoinBackoff(100ms, 1));
  const auto start = RejoinClock::now();
  watch.Started(start);
  EXPECT_EQ(watch.Look(true, true, start), RejoinWatch::Notice::None);
  EXPECT_EQ(watch.Look(false, false, start), RejoinWatch::Notice::Lost);
  EXPECT_LE(watch.MillisecondsToNextLook(start), 110);
  watch.KeptOut(600, start);
  EXPECT_EQ(watch.MillisecondsToNextLook(start), 600000);
  bool tried = false;
  watch.TryIfDue([&] { return tried = true; });
  EXPECT_FALSE(tried);
}
