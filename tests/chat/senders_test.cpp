// The senders against a raw server that reads exactly what went out.
#include <gtest/gtest.h>

#include <functional>

#include "chat_support.h"
#include "common/test_support.h"
#include "protocol/messages.h"

TEST(Senders, MessagesThatFitGoOutWholeAndOthersNotAtAll) {
  DiagCapture quiet;
  RawListener listener;
  CJaseloNetwork zed;
  ASSERT_TRUE(zed.StartupClient("Zed"));
  ASSERT_TRUE(zed.ClientConnect("127.0.0.1", listener.Port()));
  RawPeer server = listener.Accept();
  ASSERT_TRUE(server.Valid());
  // The welcome first, and the HELLO right behind it: the one block besides
  // the designed messages below, which follow it byte for byte.
  ASSERT_EQ(server.Read(20), (Bytes{0x03, 0x00, 0x04, 0x00, 'Z',  'e',  'd',  0x00, 0x02, 0x00,
                                    'J',  'X',  0x0C, 0x00, 0x01, 0x00, 0x01, 0x00, 0x03, 0x00}));

  // Each sender at the longest text or name that makes a 1024-byte message,
  // then at one byte more. With the 4 bytes of "Zed" and 6 of "Arial", a
  // text of 991 characters makes 1002 bytes of strings in a chat line.
  ChatEvent line;
  const auto lineOf = [&](size_t n) -> const ChatEvent& { return line = MakeLine("Zed", std::string(n, 't')); };
  struct Case {
    const char* what;
    uint16_t chatHeader;
    size_t longest;
    std::function<bool(size_t)> send;
    Bytes tail;  // the last field, which only fits when nothing was cut
  };
  const std::vector<Case> cases = {
      {"says", CHAT_SAYS, 991, [&](size_t n) { return zed.SendChatMessage(lineOf(n)); }, {0xFF, 0x00}},
      {"unrelayed",
       CHAT_UNRELAYED,
       991,
       [&](size_t n) { return zed.SendUnrelayedChatMessage(lineOf(n)); },
       {0xFF, 0x00}},
      {"private",
       CHAT_PRIVATE,
       985,
       [&](size_t n) { return zed.SendPrivateChatMessage(lineOf(n), "Bob"); },
       {0xFF, 0x00}},
      {"departure",
       CHAT_DISCONNECTED,
       1017,
       [&](size_t n) { return zed.SendDisconnectMessage(std::string(n, 'n').c_str()); },
       {'n', 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(c.send(c.longest));
    const Bytes message = server.Read(PACKET_CAPACITY);
    ASSERT_EQ(message.size(), PACKET_CAPACITY);
    EXPECT_EQ(Bytes(message.begin(), message.begin() + 4),
              (Bytes{0x01, 0x00, static_cast<uint8_t>(c.chatHeader), 0x00}));
    EXPECT_EQ(Bytes(message.end() - 2, message.end()), c.tail);
    EXPECT_FALSE(c.send(c.longest + 1));
  }
  EXPECT_EQ(zed.SendChatMessage(lineOf(991)), true);
  EXPECT_EQ(server.Read(PACKET_CAPACITY), Whole(Says(line)));

  // Nothing of the refused messages went out: the next bytes are a marker.
  const ChatEvent marker = MakeLine("Zed", "marker");
  ASSERT_TRUE(zed.SendChatMessage(marker));
  EXPECT_EQ(server.Read(Whole(Says(marker)).size()), Whole(Says(marker)));

  // With the server gone, the departure reports that it could not be sent.
  { RawPeer gone = std::move(server); }
  EXPECT_TRUE(WaitFor([&] { return !zed.SendDisconnectMessage("Zed"); }));
  zed.StopClient();
}
