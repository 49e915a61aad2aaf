// Names, rows, and both ends without a daemon; with a real one: discovery_test.sh.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "common/test_support.h"
#include "discovery/chatannouncer.h"
#include "discovery/chatbrowser.h"
#include "discovery/chatservice.h"
#include "protocol/utf8.h"

TEST(ChatService, InstanceNamesFitOneDnsLabelWithoutSplittingACharacter) {
  EXPECT_EQ(InstanceName("alice", "classroom-pc"), "alice on classroom-pc");
  EXPECT_EQ(InstanceName("", "classroom-pc"), "classroom-pc") << "the dialog accepts an empty nickname";
  // "x on " and 41 letters leave 17 bytes: eight two-byte letters and not half of a ninth.
  std::string accented;
  for (int i = 0; i < 15; ++i) accented += "\xC3\xA9";
  EXPECT_EQ(InstanceName("x", std::string(41, 'm') + accented),
            "x on " + std::string(41, 'm') + accented.substr(0, 16));
}

TEST(ChatService, ARowIsOneLineInItsOrderWithTheAddressAndKey) {
  EXPECT_EQ(RowText(Found("alice on classroom-pc", "alice", "192.0.2.10", 27015, "1", "3f2a9c0177b4e0d2")),
            "alice on classroom-pc \xE2\x80\x94 192.0.2.10:27015 \xE2\x80\x94 encrypted, key 3F2A 9C01 77B4 E0D2");
  EXPECT_EQ(RowText(Found("evil\non\tpc", "", "10.0.0.1", 1, "", "")),
            "evil\xEF\xBF\xBDon\xEF\xBF\xBDpc \xE2\x80\x94 10.0.0.1:1 \xE2\x80\x94 not encrypted");
  // No name can turn around, hide or run over the address beside it: every
  // bidirectional control, a C1 control and the line separator are shown
  // as U+FFFD; letters of right-to-left scripts stay.
  const std::string x = "\xEF\xBF\xBD";
  const char* controls[] = {"\u202A", "\u202B", "\u202C", "\u202D", "\u202E", "\u2066", "\u2067",
                            "\u2068", "\u2069", "\u200E", "\u200F", "\u061C", "\u2028", "\u0085"};
  for (const char* control : controls) {
    EXPECT_EQ(RowText(Found(std::string("evil") + control + "x", "", "10.0.0.1", 1, "", "")).substr(0, 8),
              "evil" + x + "x")
        << control;
  }
  EXPECT_EQ(ControlsShown("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xC3\xA9"), "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xC3\xA9");
  // Cut as DNS-SD and nicknames allow, and a key that is no short key dropped.
  const FoundChat cut = Found(std::string(80, 'n'), std::string(40, 'k'), "10.0.0.1", 1, "1", "3f2a; rm -rf");
  EXPECT_EQ(cut.name.size(), MAX_INSTANCE_NAME_BYTES);
  EXPECT_EQ(cut.nick.size(), 31u);
  EXPECT_EQ(cut.key, "");
  // The count, when the TXT record gives a sound one.
  FoundChat counted = Found("a", "", "10.0.0.1", 1, "", "");
  counted.people = PeopleCount("4");
  EXPECT_EQ(RowText(counted), "a \xE2\x80\x94 10.0.0.1:1 \xE2\x80\x94 4 people \xE2\x80\x94 not encrypted");
  counted.people = PeopleCount("1");
  EXPECT_EQ(RowText(counted), "a \xE2\x80\x94 10.0.0.1:1 \xE2\x80\x94 1 person \xE2\x80\x94 not encrypted");
  for (const char* bad : {"", "-1", "12345", "4 ", "x"}) EXPECT_EQ(PeopleCount(bad), -1) << bad;
}

TEST(ChatService, ChatsAreListedInTheOrderPeopleExpectAndOneNameByAddress) {
  std::vector<FoundChat> chats = {Found("room 10", "", "10.0.0.2", 1, "", ""),
                                  Found("Room 9", "", "10.0.0.1", 1, "", ""),
                                  Found("room 2", "", "10.0.0.9", 1, "", ""),
                                  Found("room 2", "", "10.0.0.3", 1, "", ""), Found("room", "", "10.0.0.1", 1, "", "")};
  std::sort(chats.begin(), chats.end(), ListedBefore);
  std::vector<std::string> order;
  for (const FoundChat& c : chats) order.push_back(c.name + "@" + c.address);
  EXPECT_EQ(order, (std::vector<std::string>{"room@10.0.0.1", "room 2@10.0.0.3", "room 2@10.0.0.9", "Room 9@10.0.0.1",
                                             "room 10@10.0.0.2"}));
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
