// The bounded hand-over from the poll thread to the window.
#include "chat/handover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "common/test_support.h"

using namespace std::chrono_literals;

TEST(Handover, AsksForACallOnceEmptyAndWaitsWhileFullUntilATakeOrAStop) {
  CHandover<int> news(2);
  bool call = false;
  ASSERT_TRUE(news.Put(1, call));
  EXPECT_TRUE(call);
  ASSERT_TRUE(news.Put(2, call));
  EXPECT_FALSE(call) << "already asked";
  std::atomic<int> put{-1};
  std::thread producer([&] {
    bool c = false;
    put = news.Put(3, c);
  });
  // Absence can only be checked by giving the producer time to misbehave.
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(put, -1) << "full: the producer waits";
  int got = 0;
  ASSERT_TRUE(news.Take(got));
  EXPECT_TRUE(WaitFor([&] { return put == 1; }));
  producer.join();
  for (const int expected : {2, 3}) {
    ASSERT_TRUE(news.Take(got));
    EXPECT_EQ(got, expected);
  }
  ASSERT_TRUE(news.Put(4, call));
  EXPECT_FALSE(call) << "asked, and not yet found empty";
  ASSERT_TRUE(news.Take(got));
  EXPECT_FALSE(news.Take(got));
  ASSERT_TRUE(news.Put(4, call));
  EXPECT_TRUE(call) << "found empty: the next value asks again";

  ASSERT_TRUE(news.Put(5, call));
  put = -1;
  std::thread stuck([&] {
    bool c = false;
    put = news.Put(6, c);
  });
  std::this_thread::sleep_for(50ms);
  news.Stop();
  EXPECT_TRUE(WaitFor([&] { return put == 0; }));
  stuck.join();
  EXPECT_FALSE(news.Put(7, call));
}
