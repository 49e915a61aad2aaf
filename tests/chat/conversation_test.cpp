// Whole conversations over loopback: a server endpoint drained like the
// window's, client endpoints with poll loops, and raw peers that watch the
// wire or lie about who they are.
#include <gtest/gtest.h>

#include <sys/socket.h>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>

#include "chat_support.h"
#include "common/test_support.h"
#include "common/web_peer.h"
#include "protocol/messages.h"

namespace {
bool Receives(const Client& c, const Seen& e) {
  return WaitFor([&] { return c.loop.HasEvent(e); });
}
}  // namespace

// The three clients ask for the list of people and the earlier lines; the
// raw tap, which speaks only the chat's messages, receives exactly those and
// none of our own blocks, from their arrivals to the server's shutdown.
TEST(Conversation, ArrivalsLinesPrivateLineDepartureAndShutdown) {
  DiagCapture quiet;
  Server server;
  ASSERT_NE(server.Port(), 0);

  // A raw client joins first and records the wire: it is present for everything.
  RawPeer tap;
  ASSERT_TRUE(tap.Join(server.Port(), "Tap"));
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 1; }));
  Client alice("Alice", server.Port());
  ASSERT_TRUE(alice.joined);
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 2; }));
  Client bob("Bob", server.Port());
  ASSERT_TRUE(bob.joined);
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 3; }));
  Client carol("Carol", server.Port());
  ASSERT_TRUE(carol.joined);
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 4; }));
  for (const char* name : {"Alice", "Bob", "Carol"}) EXPECT_EQ(tap.NextMessage(), Whole(Arrival(name)));

  // A public line comes back to every client, its sender included, byte for byte.
  const ChatEvent hello = MakeLine("Alice", "Hello, \"all\"\t!", "Courier New");
  ASSERT_TRUE(alice.network.SendChatMessage(hello));
  EXPECT_EQ(tap.NextMessage(), Whole(Says(hello)));
  for (const Client* c : {&alice, &bob, &carol}) EXPECT_TRUE(Receives(*c, SeenOf(hello)));

  // Arrivals reached exactly those already present.
  const Seen bobJoined = NameEvent(CHAT_JOINED, "Bob");
  const Seen carolJoined = NameEvent(CHAT_JOINED, "Carol");
  EXPECT_EQ(alice.loop.EventsOfType(CHAT_JOINED), (std::vector<Seen>{bobJoined, carolJoined}));
  EXPECT_EQ(bob.loop.EventsOfType(CHAT_JOINED), std::vector<Seen>{carolJoined});
  EXPECT_TRUE(carol.loop.EventsOfType(CHAT_JOINED).empty());

  // A private line to BOB reaches Bob only; its sender gets no copy.
  ChatEvent secret = MakeLine("Carol", "for Bob only");
  secret.Type = CHAT_PRIVATE;
  ASSERT_TRUE(carol.network.SendPrivateChatMessage(secret, "BOB"));
  EXPECT_TRUE(Receives(bob, SeenOf(secret)));
  // An unrelayed line stays with the server.
  ASSERT_TRUE(carol.network.SendUnrelayedChatMessage(MakeLine("Carol", "for the server only")));
  // Carol's next public line follows on every connection, after anything the
  // private and unrelayed lines could have produced there.
  const ChatEvent after = MakeLine("Carol", "after");
  ASSERT_TRUE(carol.network.SendChatMessage(after));
  EXPECT_EQ(tap.NextMessage(), Whole(Says(after)));
  for (const Client* c : {&alice, &bob, &carol}) EXPECT_TRUE(Receives(*c, SeenOf(after)));
  EXPECT_TRUE(alice.loop.EventsOfType(CHAT_PRIVATE).empty());
  EXPECT_TRUE(carol.loop.EventsOfType(CHAT_PRIVATE).empty());
  EXPECT_EQ(bob.loop.EventsOfType(CHAT_PRIVATE).size(), 1u);

  // A departure removes the client before the relay: the others hear of it,
  // the departing client gets no copy before its connection is closed.
  ASSERT_TRUE(bob.network.SendDisconnectMessage("Bob"));
  EXPECT_EQ(tap.NextMessage(), Whole(Departure("Bob")));
  const Seen bobLeft = NameEvent(CHAT_DISCONNECTED, "Bob");
  EXPECT_TRUE(Receives(alice, bobLeft));
  EXPECT_TRUE(Receives(carol, bobLeft));
  EXPECT_FALSE(server.Has("Bob"));
  EXPECT_TRUE(WaitFor([&] { return !bob.network.IsActive(); }));
  bob.loop.End();
  ChatEvent leftover;
  while (bob.network.ProcessPacketInQueue(leftover)) EXPECT_NE(leftover.Type, CHAT_DISCONNECTED);
  EXPECT_TRUE(bob.loop.EventsOfType(CHAT_DISCONNECTED).empty());

  // The server's shutdown notice reaches every client as its 21 bytes.
  ASSERT_TRUE(server.network.SendDisconnectMessage(SERVER_SHUTDOWN_NAME));
  const Bytes notice = {0x01, 0x00, 0x04, 0x00, 0x0F, 0x00, '!', '!', '!', ' ', 'S',
                        'E',  'R',  'V',  'E',  'R',  ' ',  '!', '!', '!', 0x00};
  EXPECT_EQ(tap.NextMessage(), notice);
  const Seen shutdown = NameEvent(CHAT_DISCONNECTED, SERVER_SHUTDOWN_NAME);
  EXPECT_TRUE(Receives(alice, shutdown));
  EXPECT_TRUE(Receives(carol, shutdown));
  EXPECT_FALSE(tap.HasData());
}

TEST(Conversation, LateJoinerHearsWhoIsHereThenWhatWasSaidBefore) {
  DiagCapture quiet;
  Server server;
  Client alice("Alice", server.Port());
  ASSERT_TRUE(WaitFor([&] { return server.Has("Alice"); }));
  server.network.SetOwnUser(alice.network.LocalAddressOfConnection());
  RawPeer tap;
  ASSERT_TRUE(tap.Join(server.Port(), "Tap"));
  Client bob("Bob", server.Port());
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 3; }));
  const ChatEvent one = MakeLine("Alice", "one"), two = MakeLine("Bob", "two"), live = MakeLine("Bob", "live");
  ChatEvent secret = MakeLine("Alice", "secret");
  ASSERT_TRUE(alice.network.SendChatMessage(one));
  ASSERT_TRUE(Receives(bob, SeenOf(one)));
  ASSERT_TRUE(alice.network.SendPrivateChatMessage(secret, "Bob"));
  ASSERT_TRUE(bob.network.SendUnrelayedChatMessage(MakeLine("Bob", "unrelayed")));
  ASSERT_TRUE(bob.network.SendChatMessage(two));
  ASSERT_TRUE(Receives(alice, SeenOf(two)));

  // Everybody present, Carol included, then the count, then the public lines
  // said before she came, oldest first, then the live line.
  Client carol("Carol", server.Port());
  ASSERT_TRUE(WaitFor([&] { return carol.loop.EventsOfType(EVENT_PEOPLE).size() == 1; }));
  ASSERT_TRUE(bob.network.SendChatMessage(live));
  ASSERT_TRUE(Receives(carol, SeenOf(live)));
  const std::vector<Seen> seen = carol.loop.Events();
  ASSERT_EQ(seen.size(), 8u);
  std::map<std::string, uint16_t> present;
  for (uint16_t i = 0; i < 4; ++i) {
    EXPECT_EQ(seen[i].Type, EVENT_PRESENT);
    EXPECT_EQ(seen[i].Count, i);
    present[seen[i].Name] = seen[i].Flags;
  }
  EXPECT_EQ(present, (std::map<std::string, uint16_t>{{std::string("Alice\0", 6), PERSON_HOST | PERSON_ASKED},
                                                      {std::string("Bob\0", 4), PERSON_ASKED},
                                                      {std::string("Carol\0", 6), PERSON_ASKED},
                                                      {std::string("Tap\0", 4), 0}}));
  EXPECT_EQ(seen[4].Type, EVENT_PEOPLE);
  EXPECT_EQ(seen[4].Count, 4);
  for (const auto& [at, line, left] : {std::tuple{5, &one, 1}, std::tuple{6, &two, 0}}) {
    Seen earlier = SeenOf(*line);
    earlier.Type = EVENT_EARLIER;
    earlier.Count = static_cast<uint16_t>(left);
    earlier.Time = seen[at].Time;
    EXPECT_EQ(seen[at], earlier);
  }
  EXPECT_EQ(seen[7], SeenOf(live));

  // The raw tap, which never asked, heard the arrivals and the lines only.
  for (const CPacket& m : {Arrival("Bob"), Says(one), Says(two), Arrival("Carol"), Says(live)}) {
    EXPECT_EQ(tap.NextMessage(), Whole(m));
  }
  // A second HELLO on the same connection is not answered again.
  CPacket hello;
  ASSERT_TRUE(BuildHello(CLIENT_UNDERSTANDS, "", hello));
  RawPeer asker = RawPeer::Dial(server.Port());
  Bytes joining = Whole(Welcome("Asker"));
  for (int i = 0; i < 2; ++i) joining.insert(joining.end(), hello.data, hello.data + hello.length);
  ASSERT_TRUE(asker.Send(joining) && asker.Send(Says(MakeLine("Asker", "marker"))));
  size_t ours = 0;
  for (Bytes got = asker.NextMessage(); got != Whole(Says(MakeLine("Asker", "marker"))); got = asker.NextMessage()) {
    ASSERT_FALSE(got.empty());
    ++ours;
  }
  EXPECT_EQ(ours, 4u) << "one list and the three earlier lines";
}

// Mallory, a raw peer, is identified under her own nickname and then states
// somebody else's. Alice is an honest client endpoint.
class Impersonation : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(mallory.Join(server.Port(), "Mallory"));
    ASSERT_TRUE(WaitFor([&] { return server.Present() == 1; }));
    alice = std::make_unique<Client>("Alice", server.Port());
    ASSERT_TRUE(alice->joined);
    ASSERT_EQ(mallory.NextMessage(), Whole(Arrival("Alice")));
  }

  // An honest line from Mallory. It is handled after everything she sent
  // before, so once it is back, whatever those produced has arrived too.
  void Sync(const std::string& statedName = "Mallory") {
    const ChatEvent honest = MakeLine(statedName, "honest " + std::to_string(++syncs));
    ASSERT_TRUE(mallory.Send(Says(honest)));
    ASSERT_EQ(mallory.NextMessage(), Whole(Says(honest)));
    ASSERT_TRUE(Receives(*alice, SeenOf(honest)));
  }

  DiagCapture quiet;
  Server server;
  RawPeer mallory;
  std::unique_ptr<Client> alice;
  int syncs = 0;
};

TEST_F(Impersonation, LinesStatingAnotherNicknameAreDropped) {
  ChatEvent forged = MakeLine("Alice", "I am Alice");
  ASSERT_TRUE(mallory.Send(Says(forged)));
  ASSERT_TRUE(mallory.Send(Says(MakeLine("alice", "me too"))));
  CPacket packet;
  ASSERT_TRUE(BuildPrivate("Alice", forged, packet));
  ASSERT_TRUE(mallory.Send(packet));
  // Her own private line to a nickname nobody has goes nowhere, not even back to her.
  ASSERT_TRUE(BuildPrivate("Nobody", MakeLine("Mallory", "anyone?"), packet));
  ASSERT_TRUE(mallory.Send(packet));
  Sync();
  // Her own nickname in another letter case is still her own.
  Sync("MALLORY");
  EXPECT_EQ(alice->loop.EventsOfType(CHAT_SAYS).size(), 2u);
  EXPECT_TRUE(alice->loop.EventsOfType(CHAT_PRIVATE).empty());
}

TEST_F(Impersonation, DeparturesNamingAnotherRemoveNobody) {
  ASSERT_TRUE(mallory.Send(Departure("Alice")));
  ASSERT_TRUE(mallory.Send(Departure(SERVER_SHUTDOWN_NAME)));
  Sync();
  EXPECT_TRUE(server.Has("Alice"));
  EXPECT_TRUE(alice->network.IsActive());
  EXPECT_TRUE(alice->loop.EventsOfType(CHAT_DISCONNECTED).empty());

  // Her own departure still works.
  ASSERT_TRUE(mallory.Send(Departure("Mallory")));
  EXPECT_TRUE(Receives(*alice, NameEvent(CHAT_DISCONNECTED, "Mallory")));
  EXPECT_FALSE(server.Has("Mallory"));
  EXPECT_TRUE(mallory.WaitClosed());
}

TEST(Conversation, LateDepartureDoesNotRemoveANewcomerUnderTheSameName) {
  DiagCapture quiet;
  // Driven by hand, without a socket thread, so that the departure can wait
  // in the queue while its connection is forgotten.
  Injectable server;
  ASSERT_TRUE(server.StartupServer());
  const auto adopt = [&](const std::string& name) {
    int ends[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    EXPECT_TRUE(server.AdoptConnection(ends[0]));
    const Bytes welcome = Whole(Welcome(name));
    server.HandleReceivedBytes(ends[0], welcome.data(), welcome.size());
    return std::pair{ends[0], RawPeer(ends[1])};
  };
  auto [tapSocket, tap] = adopt("Tap");
  auto [bobSocket, bob] = adopt("Bob");
  EXPECT_EQ(tap.NextMessage(), Whole(Arrival("Bob")));
  const Bytes departure = Whole(Departure("Bob"));
  server.HandleReceivedBytes(bobSocket, departure.data(), departure.size());
  // Bob's connection is forgotten, unannounced, while his departure is queued;
  // a new Bob takes the name (and usually the socket number).
  server.RemoveClientByName("Bob");
  auto [newBobSocket, newBob] = adopt("BOB");
  EXPECT_EQ(tap.NextMessage(), Whole(Arrival("BOB")));

  ChatEvent event;
  while (server.ProcessPacketInQueue(event)) {
  }
  const auto table = server.ClientTable();
  EXPECT_EQ(table.size(), 2u);
  EXPECT_TRUE(std::any_of(table.begin(), table.end(), [](const auto& entry) { return entry.second == "BOB"; }));
  EXPECT_EQ(tap.NextMessage(), Whole(Departure("Bob")));
  EXPECT_EQ(newBob.NextMessage(), Whole(Departure("Bob")));
}

// A browser over the WebSocket takes part like any other participant, and a
// raw peer built to the designed bytes sees exactly what it would see were
// the browser a designed client.
TEST(Conversation, ABrowserIsAParticipantLikeAnyOtherAndChangesNoByteForTheOthers) {
  DiagCapture quiet;
  Server server;
  RawPeer tap;
  ASSERT_TRUE(tap.Join(server.Port(), "Tap"));
  ASSERT_TRUE(WaitFor([&] { return server.Present() == 1; }));
  Client alice("Alice", server.Port());
  ASSERT_TRUE(alice.joined);
  EXPECT_EQ(tap.NextMessage(), Whole(Arrival("Alice")));
  WebPeer web;
  ASSERT_TRUE(web.Join(server.Port(), "Web"));
  EXPECT_EQ(tap.NextMessage(), Whole(Arrival("Web")));
  EXPECT_TRUE(Receives(alice, NameEvent(CHAT_JOINED, "Web")));

  // Each frame carries one message, and the relay is the designed message.
  const ChatEvent hello = MakeLine("Web", "hello from a browser", "Georgia");
  ASSERT_TRUE(web.Send(Says(hello)));
  EXPECT_EQ(tap.NextMessage(), Whole(Says(hello)));
  EXPECT_EQ(web.NextMessage(), Whole(Says(hello)));
  EXPECT_TRUE(Receives(alice, SeenOf(hello)));
  const ChatEvent answer = MakeLine("Alice", "hello, browser");
  ASSERT_TRUE(alice.network.SendChatMessage(answer));
  EXPECT_EQ(web.NextMessage(), Whole(Says(answer)));
  EXPECT_EQ(tap.NextMessage(), Whole(Says(answer)));

  // Private lines both ways; the nickname rules hold for the browser too.
  ChatEvent toWeb = MakeLine("Alice", "psst");
  ASSERT_TRUE(alice.network.SendPrivateChatMessage(toWeb, "WEB"));
  CPacket expected;
  ASSERT_TRUE(BuildPrivate("WEB", toWeb, expected));
  EXPECT_EQ(web.NextMessage(), Whole(expected));
  ASSERT_TRUE(BuildPrivate("alice", MakeLine("Web", "psst back"), expected));
  ASSERT_TRUE(web.Send(expected));
  ChatEvent back = MakeLine("Web", "psst back");
  back.Type = CHAT_PRIVATE;
  EXPECT_TRUE(Receives(alice, SeenOf(back)));
  ASSERT_TRUE(web.Send(Says(MakeLine("Alice", "a browser cannot speak for Alice"))));
  WebPeer twin;
  ASSERT_TRUE(twin.Join(server.Port(), "WEB"));
  EXPECT_TRUE(twin.Raw().WaitClosed()) << "a second WEB is refused";

  // Its departure is announced once, and its connection ends.
  Bytes departure = Whole(Departure("Web"));
  ASSERT_TRUE(web.Send(departure));
  EXPECT_EQ(tap.NextMessage(), departure);
  EXPECT_TRUE(web.Raw().WaitClosed());
  // A browser whose connection just ends is announced as gone.
  WebPeer gone;
  ASSERT_TRUE(gone.Join(server.Port(), "Gone"));
  EXPECT_EQ(tap.NextMessage(), Whole(Arrival("Gone")));
  gone.Raw().Reset();
  EXPECT_EQ(tap.NextMessage(), Whole(Departure("Gone")));
  // Nothing else reached the designed peer: no frame, no HTTP, no extra byte.
  ASSERT_TRUE(alice.network.SendChatMessage(MakeLine("Alice", "last")));
  EXPECT_EQ(tap.NextMessage(), Whole(Says(MakeLine("Alice", "last"))));
  EXPECT_FALSE(tap.HasData());
}
