// Names, rows, and both ends without a daemon; with a real one: discovery_test.sh.

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "common/test_support.h"
#include "discovery/chatannouncer.h"
#include "discovery/chatbrowser.h"
#include "discovery/chatservice.h"

TEST(ChatService, InstanceNamesFitOneDnsLabelWithoutSplittingACharacter) {
  EXPECT_EQ(InstanceName("alice", "classroom-pc"), "alice on classroom-pc");
  EXPECT_EQ(InstanceName("", "classroom-pc"), "classroom-pc") << "the dialog accepts an empty nickname";
  // "x on " and 41 letters leave 17 bytes: eight two-byte letters and not half of a ninth.
  std::string accented;
  for (int i = 0; i < 15; ++i) accented += "\xC3\xA9";
  EXPECT_EQ(InstanceName("x", std::string(41, 'm') + accented),
            "x on " + std::string(41, 'm') + accented.substr(0, 16));
}

TEST(ChatService, ARowIsOneLineWithTheAddressAndPort) {
  EXPECT_EQ(RowText({"alice on classroom-pc", "alice", "192.0.2.10", 27015}),
            "alice on classroom-pc \xE2\x80\x94 192.0.2.10:27015");
  EXPECT_EQ(RowText({"evil\non\tpc", "", "10.0.0.1", 1}), "evil\xEF\xBF\xBDon\xEF\xBF\xBDpc \xE2\x80\x94 10.0.0.1:1");
  // The count, when the TXT record gives a sound one.
  EXPECT_EQ(RowText({"a", "", "10.0.0.1", 1, PeopleCount("4")}), "a \xE2\x80\x94 10.0.0.1:1 \xE2\x80\x94 4 people");
  EXPECT_EQ(RowText({"a", "", "10.0.0.1", 1, PeopleCount("1")}), "a \xE2\x80\x94 10.0.0.1:1 \xE2\x80\x94 1 person");
  for (const char* bad : {"", "-1", "12345", "4 ", "x"}) EXPECT_EQ(PeopleCount(bad), -1) << bad;
}

TEST(ChatDiscovery, WithoutADaemonTheHostSaysOnceItIsNotAnnouncedAndTheBrowserWhy) {
  TempDir dir;
  setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + dir.File("no_bus_here")).c_str(), 1);
  DiagCapture diag;
  {
    CChatAnnouncer announcer("alice", 27015);
    announcer.Start();
    EXPECT_TRUE(WaitFor([&] { return diag.Text().find("the chat is not announced") != std::string::npos; }));
  }
  EXPECT_EQ(diag.Count("CChatAnnouncer::Announce() - avahi_client_new() - error : -26 (Daemon not running) - the "
                       "chat is not announced\n"),
            1)
      << diag.Text();

  std::mutex mutex;
  std::optional<ChatListing> last;
  CChatBrowser browser([&](const ChatListing& listing) {
    std::lock_guard<std::mutex> guard(mutex);
    last = listing;
  });
  ASSERT_TRUE(browser.Start());
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> guard(mutex);
    return last.has_value();
  }));
  std::lock_guard<std::mutex> guard(mutex);
  EXPECT_FALSE(last->searching);
  EXPECT_EQ(last->whyNot, "avahi-daemon is not running");
  EXPECT_TRUE(last->chats.empty());
}
