// A server endpoint, client endpoints and raw peers over real loopback
// sockets, each endpoint with its real socket thread.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/raw_peer.h"
#include "common/test_support.h"
#include "common/wire.h"
#include "net/passtiming.h"
#include "net/tcpip.h"
#include "protocol/extension.h"
#include "protocol/messages.h"

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Messages = std::vector<Bytes>;

class Endpoint : public CTCPIP {
 public:
  // As every owner must: a class derived from CTCPIP stops the socket thread
  // before its own destruction begins.
  ~Endpoint() override { Stop(); }
  using CTCPIP::SendToServer;
  // Relays every queued line to all, on behalf of its sender, in one batch,
  // as the chat layer of a server does; by hand, or on the socket thread in
  // the wake-up that received them.
  void RelayQueued() {
    if (relaysOnItsThread) return;
    BeginOutputBatch();
    Relay();
    EndOutputBatch();
  }
  bool relaysOnItsThread = false;
  std::optional<Bytes> Next() {
    const auto p = PopQueued();
    if (!p) return std::nullopt;
    return Bytes(p->data, p->data + p->length);
  }
  // Waits for n queued payloads and takes them.
  Messages Take(size_t n) {
    Messages got;
    WaitFor([&] {
      while (got.size() < n) {
        auto b = Next();
        if (!b) return false;
        got.push_back(*b);
      }
      return true;
    });
    return got;
  }

 private:
  void HandleQueued() override {
    if (relaysOnItsThread) Relay();
  }
  void Relay() {
    while (const auto p = PopQueued()) {
      CPacket relay;
      if (BuildRelay(*p, relay)) SendMessageToAll(relay, p->sourceSerial);
    }
  }
};

milliseconds Since(Clock::time_point t) { return std::chrono::duration_cast<milliseconds>(Clock::now() - t); }

class Transport : public testing::Test {
 protected:
  void SetUp() override {
    server.SetLimits(limits);
    ASSERT_TRUE(server.Startup(TYPE_SERVER));
    server.StartListening(0);
    port = server.ListeningPort();
    ASSERT_NE(port, 0);
  }

  Endpoint& Join(const char* name) {
    clients.push_back(std::make_unique<Endpoint>());
    Endpoint& c = *clients.back();
    c.SetLimits(limits);
    EXPECT_TRUE(c.Startup(TYPE_CLIENT, name));
    EXPECT_TRUE(c.Connect("127.0.0.1", port));
    EXPECT_TRUE(WaitFor([&] { return Known(name); })) << name;
    return c;
  }
  RawPeer JoinRaw(const std::string& name, int receiveBuffer = 0) {
    auto peer = RawPeer::Dial(port, {.receiveBuffer = receiveBuffer});
    EXPECT_TRUE(peer.Valid() && peer.Send(Welcome(name.c_str())));
    EXPECT_TRUE(WaitFor([&] { return Known(name); })) << name;
    return peer;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (const auto& [s, name] : server.ClientTable()) names.push_back(name);
    return names;
  }
  bool Known(const std::string& name) {
    const auto names = Names();
    return std::find(names.begin(), names.end(), name) != names.end();
  }

  // A marker relayed to every identified client: TCP keeps order, so a client
  // holding it has everything the server sent it before.
  void Flush() {
    marker = Says("server", "marker " + std::to_string(++markers));
    server.SendMessageToAll(marker);
  }
  // What a client endpoint got before the latest marker.
  Messages Heard(Endpoint& c) {
    Messages got;
    EXPECT_TRUE(WaitFor([&] {
      while (auto b = c.Next()) {
        if (*b == Payload(marker)) return true;
        got.push_back(*b);
      }
      return false;
    }));
    return got;
  }
  Messages Heard(RawPeer& peer) {
    Messages got;
    for (Bytes b = peer.NextMessage(); b != Whole(marker); b = peer.NextMessage()) {
      if (b.empty()) {
        ADD_FAILURE() << "marker never arrived";
        break;
      }
      got.push_back(b);
    }
    return got;
  }

  TransportLimits limits{milliseconds(1000), milliseconds(1000), milliseconds(1000), 4096};
  DiagCapture diag;  // outlives the endpoints, so their last lines are captured too
  Endpoint server;
  std::vector<std::unique_ptr<Endpoint>> clients;
  uint16_t port = 0;
  CPacket marker;
  int markers = 0;
};
}  // namespace

TEST(Endpoint, StartupTakesOneRoleAndRefusesABadType) {
  DiagCapture diag;
  Endpoint e;
  e.Cleanup();  // never started: nothing to undo
  EXPECT_FALSE(e.Startup(2));
  EXPECT_EQ(diag.Text(), "CTCPIP::Startup() - Bad _Type, must to be TYPE_SERVER or TYPE_CLIENT\n");
  EXPECT_FALSE(e.IsServer() || e.IsClient());
  EXPECT_TRUE(e.Startup(TYPE_SERVER));
  EXPECT_TRUE(e.IsServer());
  e.StartListening(0);
  EXPECT_TRUE(e.IsActive());
  // A new role undoes the old one, listening socket thread included.
  EXPECT_TRUE(e.Startup(TYPE_CLIENT, "abc"));
  EXPECT_FALSE(e.IsActive());
  EXPECT_TRUE(e.IsClient());
  EXPECT_FALSE(e.IsServer());
  EXPECT_EQ(e.NicknameLength(), 4);
  e.Cleanup();
  EXPECT_FALSE(e.Role().has_value()) << "cleaned up, the endpoint has no role again";
}

TEST(Endpoint, PortInUsePrintsTheBindLine) {
  RawListener other;
  DiagCapture diag;
  Endpoint server;
  ASSERT_TRUE(server.Startup(TYPE_SERVER));
  server.StartListening(other.Port());
  EXPECT_EQ(diag.Text(), "CTCPIP::StartListening - bind() - failed\n");
  EXPECT_FALSE(server.IsActive());
}

TEST(Endpoint, OneAddressHoldsAtMostItsShareOfTheSeats) {
  DiagCapture diag;
  Endpoint server;
  // Loopback counts here, as another machine's address would.
  TransportLimits limits;
  limits.maxPerAddress = 2;
  limits.loopbackExempt = false;
  server.SetLimits(limits);
  ASSERT_TRUE(server.Startup(TYPE_SERVER));
  server.StartListening(0);
  const auto names = [&] {
    std::vector<std::string> n;
    for (const auto& [s, name] : server.ClientTable()) n.push_back(name);
    return n;
  };
  std::vector<RawPeer> peers;
  for (const char* name : {"a", "b", "c"}) {
    peers.push_back(RawPeer::Dial(server.ListeningPort()));
    ASSERT_TRUE(peers.back().Send(Welcome(name)));
    if (peers.size() < 3) {
      ASSERT_TRUE(WaitFor([&] { return names().size() == peers.size(); }));
    }
  }
  EXPECT_TRUE(peers.back().WaitClosed(milliseconds(700)));
  EXPECT_EQ(names(), (std::vector<std::string>{"a", "b"}));
  // A seat given back is taken again.
  peers.front().Close();
  ASSERT_TRUE(WaitFor([&] { return names() == std::vector<std::string>{"b"}; }));
  peers.push_back(RawPeer::Dial(server.ListeningPort()));
  ASSERT_TRUE(peers.back().Send(Welcome("d")));
  EXPECT_TRUE(WaitFor([&] { return names().size() == 2; }));
}

TEST_F(Transport, FailedConnectReportsAndMayBeRetried) {
  RawListener closed(-1);
  Endpoint c;
  ASSERT_TRUE(c.Startup(TYPE_CLIENT, "late"));
  EXPECT_FALSE(c.Connect("127.0.0.1", closed.Port()));
  EXPECT_EQ(diag.Text(), "CTCPIP::Connect() - Client failed to connect.\n");
  EXPECT_TRUE(c.IsClient());
  EXPECT_TRUE(c.Connect("127.0.0.1", port));
  EXPECT_TRUE(WaitFor([&] { return Known("late"); }));
}

TEST_F(Transport, ConnectGivesUpAtItsLimit) {
  // A listener whose accept queue is full drops new handshakes unanswered.
  RawListener full(0);
  std::vector<RawPeer> queued;
  queued.push_back(RawPeer::Dial(full.Port()));
  Endpoint c;
  c.SetLimits(TransportLimits{milliseconds(1000), milliseconds(1000), milliseconds(300), 0});
  ASSERT_TRUE(c.Startup(TYPE_CLIENT, "patient"));
  const auto start = Clock::now();
  EXPECT_FALSE(c.Connect("127.0.0.1", full.Port()));
  EXPECT_GE(Since(start), milliseconds(290));
  EXPECT_LT(Since(start), milliseconds(1500));
  EXPECT_EQ(diag.Text(), "CTCPIP::Connect() - Client failed to connect.\n");
}

TEST_F(Transport, ArrivalsReachExactlyThoseAlreadyPresent) {
  Endpoint& alice = Join("Alice");
  Endpoint& bob = Join("Bob");
  Endpoint& carol = Join("Carol");
  Flush();
  EXPECT_EQ(Heard(alice), (Messages{Payload(Arrival("Bob")), Payload(Arrival("Carol"))}));
  EXPECT_EQ(Heard(bob), (Messages{Payload(Arrival("Carol"))}));
  EXPECT_EQ(Heard(carol), Messages{});
}

TEST_F(Transport, ConnectionNotIdentifiedByItsFirstMessageIsClosedAtOnce) {
  Endpoint& bob = Join("Bob");
  CPacket hello;
  ASSERT_TRUE(BuildHello(CLIENT_UNDERSTANDS, "", hello));
  const struct {
    const char* what;
    Bytes bytes;
    const char* line;
  } cases[] = {
      {"same nickname in another case", Whole(Welcome("bOB")), nullptr},
      {"name length 0", {3, 0, 0, 0}, "CTCPIP::ProcessWelcomeData - Name Length = 0\n"},
      {"name without its NUL", {3, 0, 3, 0, 'E', 'v', 'e'}, nullptr},
      {"chat line before any welcome", Whole(Says("Eve", "hi")), nullptr},
      {"HELLO before any welcome", Whole(hello), nullptr},
      {"unknown header", {9, 0, 1, 2}, "CTCPIP::ProcessIncomingData() - unrecognized header type 9.\n"},
      {"name that breaks a line", Whole(Welcome("carol says :\r\nok")), nullptr},
      {"the shutdown name", Whole(Welcome("!!! Server !!!")), nullptr},
      {"a trailing blank", Whole(Welcome("Bob ")), nullptr},
      {"an invisible character", Whole(Welcome("Bob\xE2\x80\x8B")), nullptr},
      // 1021 name bytes declared, "ab" and its NUL carried.
      {"name past the data",
       {3, 0, 0xFD, 0x03, 'a', 'b', 0},
       "CTCPIP::ProcessWelcomeData - Decoder.GetString() - Can't read Name\n"},
  };
  for (const auto& c : cases) {
    diag.Clear();
    auto peer = RawPeer::Dial(port);
    ASSERT_TRUE(peer.Valid() && peer.Send(c.bytes.data(), c.bytes.size()));
    // Well before the identify limit (1 s) would close it anyway.
    EXPECT_TRUE(peer.WaitClosed(milliseconds(700))) << c.what;
    if (c.line) {
      EXPECT_EQ(diag.Count(c.line), 1) << c.what;
    }
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"Bob"});
  EXPECT_EQ(server.WatchedSocketCount(), 2u);
  Flush();
  EXPECT_EQ(Heard(bob), Messages{});
}

TEST_F(Transport, SecondWelcomeOnAnIdentifiedConnectionIsIgnored) {
  Endpoint& bob = Join("Bob");
  auto carol = JoinRaw("Carol");
  const CPacket after = Says("Carol", "after");
  carol.Send(Welcome("Dave"));
  carol.Send(after);
  EXPECT_EQ(server.Take(1), Messages{Payload(after)});
  // The table follows socket numbers, which a busy process may hand out in any order.
  std::vector<std::string> names = Names();
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Bob", "Carol"}));
  Flush();
  EXPECT_EQ(Heard(bob), Messages{Payload(Arrival("Carol"))});
  EXPECT_EQ(Heard(carol), Messages{});
}

TEST_F(Transport, RelayFollowsSocketOrderAndDropsAPeerThatStoppedReading) {
  std::map<std::string, RawPeer> peers;
  for (const char* name : {"p1", "p2", "p3"}) peers[name] = JoinRaw(name, 2048);
  const auto table = server.ClientTable();
  ASSERT_EQ(table.size(), 3u);
  RawPeer& low = peers[table[0].second];
  RawPeer& high = peers[table[2].second];
  const Socket stuck = table[1].first;
  Flush();
  Heard(low);
  Heard(high);

  // Write straight into the server's side of the middle connection until its
  // next send must wait. The receiver compacts its queue for a while and
  // takes a little more, so fill until that has settled.
  const Bytes junk(512, 'j');
  for (int quiet = 0, rounds = 0; quiet < 3; ++rounds) {
    ASSERT_LT(rounds, 200);
    bool took = false;
    while (send(stuck, junk.data(), junk.size(), MSG_DONTWAIT | MSG_NOSIGNAL) > 0) took = true;
    ASSERT_EQ(errno, EAGAIN);
    quiet = took ? 0 : quiet + 1;
    std::this_thread::sleep_for(milliseconds(20));
  }

  diag.Clear();
  const CPacket line = Says("server", "to all");
  const auto start = Clock::now();
  // The relay never waits on the stuck reader: it returns at once, and the
  // peer behind it has the line at once.
  server.SendMessageToAll(line);
  EXPECT_LT(Since(start), milliseconds(100));
  EXPECT_EQ(low.NextMessage(), Whole(line));
  EXPECT_EQ(high.NextMessage(), Whole(line));
  EXPECT_LT(Since(start), milliseconds(500));

  // Having taken nothing for the send limit, the stuck reader is dropped and
  // announced once.
  const Bytes departure = Whole(Departure(table[1].second.c_str()));
  EXPECT_EQ(low.NextMessage(), departure);
  EXPECT_GE(Since(start), milliseconds(900));
  EXPECT_LT(Since(start), milliseconds(2000));
  EXPECT_EQ(high.NextMessage(), departure);
  EXPECT_EQ(diag.Count("CTCPIP::SendMessageToAll() - send() error 110\n"), 1);
  EXPECT_EQ(Names().size(), 2u);
  EXPECT_EQ(server.WatchedSocketCount(), 3u);
}

TEST_F(Transport, BatchedRelaysLeaveTogetherAtTheBatchEnd) {
  auto p1 = JoinRaw("p1");
  auto p2 = JoinRaw("p2");
  ASSERT_EQ(p1.NextMessage(), Whole(Arrival("p2")));
  const auto table = server.ClientTable();
  const Socket first = table[0].first;
  const CPacket a = Says("server", "a"), b = Says("server", "b"), c = Says("server", "c");
  server.BeginOutputBatch();
  server.SendMessageToAll(a);
  server.SendPrivateMessage(c, first);
  server.SendMessageToAll(b);
  // Loopback hands sent bytes over within the send: none has been made yet.
  EXPECT_FALSE(p1.HasData());
  EXPECT_FALSE(p2.HasData());
  server.EndOutputBatch();
  RawPeer& toFirst = table[0].second == "p1" ? p1 : p2;
  RawPeer& other = &toFirst == &p1 ? p2 : p1;
  for (const CPacket& m : {a, c, b}) EXPECT_EQ(toFirst.NextMessage(), Whole(m));
  for (const CPacket& m : {a, b}) EXPECT_EQ(other.NextMessage(), Whole(m));
}

TEST_F(Transport, RemoveClientByNameIgnoresCase) {
  Endpoint& bob = Join("Bob");
  auto alice = JoinRaw("alice");
  server.RemoveClientByName("nobody");
  EXPECT_EQ(Names().size(), 2u);
  server.RemoveClientByName("ALICE");
  EXPECT_EQ(Names(), std::vector<std::string>{"Bob"});
  EXPECT_EQ(server.WatchedSocketCount(), 2u);
  EXPECT_TRUE(alice.WaitClosed());
  // The chat layer announces a removal; the transport adds nothing.
  Flush();
  EXPECT_EQ(Heard(bob), Messages{Payload(Arrival("alice"))});
}

TEST_F(Transport, OneShownOutIsToldIfItAskedAndItsAddressIsKeptOutForTheTime) {
  Endpoint& bob = Join("bob");
  auto carol = JoinRaw("carol");
  EXPECT_FALSE(server.ShowOut("nobody", std::chrono::seconds(1)));
  ASSERT_TRUE(server.ShowOut("BOB", std::chrono::seconds(1)));
  ASSERT_TRUE(WaitFor([&] { return !bob.IsActive(); }));
  EXPECT_EQ(bob.Refusal(), REFUSED_REMOVED);
  EXPECT_EQ(bob.KeptOutSeconds(), 1u);
  // A peer of the plain protocol sees the departure of a connection that ended.
  Flush();
  EXPECT_EQ(Heard(carol), Messages{Whole(Departure("bob"))});

  // Kept out for the time, whatever name it comes back with; then let in.
  const auto shown = Clock::now();
  auto again = RawPeer::Dial(port);
  again.Send(Welcome("bob2"));
  EXPECT_TRUE(again.WaitClosed());
  EXPECT_FALSE(Known("bob2"));
  WaitFor([&] { return Clock::now() - shown > std::chrono::seconds(1); }, std::chrono::seconds(3));
  JoinRaw("bob3");
  // A peer that never asked for our messages just leaves.
  ASSERT_TRUE(server.ShowOut("carol", std::chrono::seconds(0)));
  EXPECT_TRUE(carol.WaitClosed());
}

TEST(Endpoint, AFullChatSaysOnceWhoHoldsTheSeats) {
  Endpoint host;
  ASSERT_TRUE(host.Startup(TYPE_SERVER));
  std::atomic<int> said{0};
  std::string line;
  host.SetFullWatch([&](const std::string& text) {
    line = text;
    ++said;
  });
  host.StartListening(0);
  // This machine's connections are not counted in the address's share: 63
  // take every seat beside the listener.
  std::vector<RawPeer> seated;
  // One at a time: the listen backlog of 5 would drop a burst's connects.
  for (uint32_t i = 1; i < SOCKET_SET_SIZE; ++i) {
    seated.push_back(RawPeer::Dial(host.ListeningPort()));
    ASSERT_TRUE(WaitFor([&] { return host.WatchedSocketCount() == i + 1; }));
  }
  for (int tries = 0; tries < 2; ++tries) {
    auto turned = RawPeer::Dial(host.ListeningPort());
    turned.Send(Welcome("late"));
    EXPECT_TRUE(turned.WaitClosed());
  }
  EXPECT_EQ(said.load(), 1);
  EXPECT_EQ(line, "The chat is full (63 connections): most come from 127.0.0.1 (63)");
  host.Stop();
}

TEST_F(Transport, TransportHeadersPrintExactlyTheirLines) {
  auto peer = JoinRaw("hdr");
  diag.Clear();
  // Neither has a layout, so each must arrive alone to stay one block.
  peer.Send(Bytes{9, 0, 7, 7}.data(), 4);
  ASSERT_TRUE(
      WaitFor([&] { return diag.Count("CTCPIP::ProcessIncomingData() - unrecognized header type 9.\n") == 1; }));
  peer.Send(Bytes{2, 0, 5, 5}.data(), 4);
  ASSERT_TRUE(WaitFor([&] { return diag.Count("ProcessIncomingData : Header = 2\n") == 1; }));
  const CPacket says = Says("hdr", "x");
  peer.Send(says);
  EXPECT_EQ(server.Take(1), Messages{Payload(says)});
  EXPECT_EQ(diag.Text(),
            "ProcessIncomingData : Header = 9\n"
            "CTCPIP::ProcessIncomingData() - unrecognized header type 9.\n"
            "ProcessIncomingData : Header = 2\n"
            "ProcessIncomingData : Header = 1\n");
  EXPECT_TRUE(Known("hdr"));
}

TEST_F(Transport, ServerCutsMessagesFromTheStream) {
  auto peer = RawPeer::Dial(port);
  // Our own blocks are cut by their length: the lines behind them arrive.
  CPacket hello;
  ASSERT_TRUE(BuildHello(CLIENT_UNDERSTANDS, "", hello));
  Bytes burst = Whole(Welcome("burst"));
  burst.insert(burst.end(), hello.data, hello.data + hello.length);
  Messages expected;
  for (int i = 0; i < 10; ++i) {
    const CPacket says = Says("burst", "line " + std::to_string(i));
    if (i == 5) burst.insert(burst.end(), hello.data, hello.data + hello.length);
    burst.insert(burst.end(), says.data, says.data + says.length);
    expected.push_back(Payload(says));
  }
  ASSERT_TRUE(peer.Send(burst.data(), burst.size()));
  EXPECT_EQ(server.Take(10), expected);

  const CPacket slow = Says("burst", "one byte at a time");
  for (uint16_t i = 0; i < slow.length; ++i) {
    peer.Send(slow.data + i, 1);
    std::this_thread::sleep_for(milliseconds(3));
  }
  EXPECT_EQ(server.Take(1), Messages{Payload(slow)});
}

TEST_F(Transport, ClientCutsTheServerStreamAndStopsWhenTheServerCloses) {
  RawListener fake;
  Endpoint c;
  ASSERT_TRUE(c.Startup(TYPE_CLIENT, "solo"));
  ASSERT_TRUE(c.Connect("127.0.0.1", fake.Port()));
  auto link = fake.Accept();
  ASSERT_TRUE(link.Valid());
  EXPECT_EQ(link.NextMessage(milliseconds(5000), true), Whole(Welcome("solo")));

  // One of our blocks among them is queued whole, and cut by its length.
  const CPacket people = BuildPeople({{"solo", 1, 0}})[0];
  Bytes burst;
  Messages expected;
  for (int i = 0; i < 10; ++i) {
    const CPacket p = i % 2 ? Arrival(("n" + std::to_string(i)).c_str()) : Says("x", std::to_string(i));
    burst.insert(burst.end(), p.data, p.data + p.length);
    expected.push_back(Payload(p));
    if (i != 4) continue;
    burst.insert(burst.end(), people.data, people.data + people.length);
    expected.push_back(Whole(people));
  }
  ASSERT_TRUE(link.Send(burst.data(), burst.size()));
  EXPECT_EQ(c.Take(11), expected);
  // A client takes everything waiting each pass, not one receive's worth:
  // 60 KB arrive within a few passes.
  burst.clear();
  const CPacket full = Says("x", std::string(900, 'f'));
  for (int i = 0; i < 64; ++i) burst.insert(burst.end(), full.data, full.data + full.length);
  const auto sent = Clock::now();
  ASSERT_TRUE(link.Send(burst.data(), burst.size()));
  EXPECT_EQ(c.Take(64), Messages(64, Payload(full)));
  EXPECT_LT(Since(sent), milliseconds(500));
  const CPacket slow = Says("x", "slowly");
  for (uint16_t i = 0; i < slow.length; ++i) {
    link.Send(slow.data + i, 1);
    std::this_thread::sleep_for(milliseconds(3));
  }
  EXPECT_EQ(c.Take(1), Messages{Payload(slow)});

  diag.Clear();
  link.Close();  // an orderly close
  EXPECT_TRUE(WaitFor([&] { return !c.IsActive(); }));
  EXPECT_TRUE(WaitFor([&] { return diag.Count("CTCPIP::ThreadProc() - recv() - Server deconnected.\n") == 1; }));
}

TEST_F(Transport, AClientWhoseQueueIsFullReadsNoMoreUntilHalfIsTaken) {
  RawListener fake;
  Endpoint c;
  TransportLimits small = limits;
  small.clientQueueLimit = 100;
  c.SetLimits(small);
  ASSERT_TRUE(c.Startup(TYPE_CLIENT, "solo"));
  ASSERT_TRUE(c.Connect("127.0.0.1", fake.Port()));
  auto link = fake.Accept();
  ASSERT_TRUE(link.Valid());
  Bytes burst;
  for (int i = 0; i < 2000; ++i) {
    const CPacket p = Says("x", std::to_string(i));
    burst.insert(burst.end(), p.data, p.data + p.length);
  }
  ASSERT_TRUE(link.Send(burst.data(), burst.size()));
  link.Close();
  // Full, the rest and the close wait in the kernel: at most one receive's
  // worth more is queued, and the end is not seen.
  ASSERT_TRUE(WaitFor([&] { return c.QueuedCount() >= 100; }));
  std::this_thread::sleep_for(milliseconds(200));
  EXPECT_LE(c.QueuedCount(), 100 + RECEIVE_SIZE / Says("x", "0").length);
  EXPECT_TRUE(c.IsActive());
  // Taken, every line comes in order, then the end.
  const Messages got = c.Take(2000);
  ASSERT_EQ(got.size(), 2000u);
  for (int i = 0; i < 2000; ++i) ASSERT_EQ(got[static_cast<size_t>(i)], Payload(Says("x", std::to_string(i)))) << i;
  EXPECT_TRUE(WaitFor([&] { return !c.IsActive(); }));
}

TEST_F(Transport, IdleNewcomerHoldsNobodyUpAndIsClosedAtTheIdentifyLimit) {
  auto talker = JoinRaw("talker");
  const uint32_t watched = server.WatchedSocketCount();
  const auto connected = Clock::now();
  auto idle = RawPeer::Dial(port);
  ASSERT_TRUE(WaitFor([&] { return server.WatchedSocketCount() == watched + 1; }));

  const CPacket says = Says("talker", "still heard");
  const auto sent = Clock::now();
  talker.Send(says);
  EXPECT_EQ(server.Take(1), Messages{Payload(says)});
  EXPECT_LT(Since(sent), milliseconds(300));  // at once, with slack for a loaded machine

  EXPECT_TRUE(idle.WaitClosed(milliseconds(3000)));
  EXPECT_GE(Since(connected), limits.identifyTimeout);
  EXPECT_TRUE(WaitFor([&] { return server.WatchedSocketCount() == watched; }));
}

TEST_F(Transport, SixtyFourWatchedSocketsAreTheLimit) {
  std::vector<RawPeer> peers;
  // In batches that fit the listen backlog; the server accepts one per pass.
  while (peers.size() < SOCKET_SET_SIZE - 1) {
    const size_t first = peers.size();
    for (size_t i = first; i < std::min<size_t>(first + 4, SOCKET_SET_SIZE - 1); ++i) {
      peers.push_back(RawPeer::Dial(port));
      ASSERT_TRUE(peers.back().Valid() && peers.back().Send(Welcome(("p" + std::to_string(i)).c_str())));
    }
    ASSERT_TRUE(WaitFor([&] { return Names().size() == peers.size(); }));
  }
  EXPECT_EQ(server.WatchedSocketCount(), SOCKET_SET_SIZE);

  auto extra = RawPeer::Dial(port);
  ASSERT_TRUE(extra.Valid() && extra.Send(Welcome("extra")));
  EXPECT_TRUE(extra.WaitClosed(milliseconds(700)));
  EXPECT_FALSE(Known("extra"));
  Flush();
  const Messages heard = Heard(peers.front());
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard.back(), Whole(Arrival("p62")));
}

TEST_F(Transport, ConnectionThatEndsIsAnnouncedOnceUnlessItSaidGoodbye) {
  Endpoint& ann = Join("Ann");
  Endpoint& ben = Join("Ben");
  auto victim = JoinRaw("Vic");
  auto leaver = JoinRaw("Lea");
  const CPacket line = Says("Vic", "mid-sentence");
  const CPacket bye = Departure("LEA");  // its own, in another case
  victim.Send(line);
  EXPECT_EQ(server.Take(1), Messages{Payload(line)});
  // Nothing said after a goodbye is queued, even in the same write.
  Bytes goodbye = Whole(bye);
  const CPacket late = Says("Lea", "after leaving");
  goodbye.insert(goodbye.end(), late.data, late.data + late.length);
  leaver.Send(goodbye.data(), goodbye.size());
  EXPECT_EQ(server.Take(1), Messages{Payload(bye)});  // the chat layer relays the goodbye
  victim.Reset();
  leaver.Close();
  ASSERT_TRUE(WaitFor([&] { return Names() == std::vector<std::string>{"Ann", "Ben"}; }));
  EXPECT_EQ(server.QueuedCount(), 0u);
  EXPECT_EQ(server.WatchedSocketCount(), 3u);
  Flush();
  Messages expected{Payload(Arrival("Ben")), Payload(Arrival("Vic")), Payload(Arrival("Lea")),
                    Payload(Departure("Vic"))};
  EXPECT_EQ(Heard(ann), expected);
  expected.erase(expected.begin());
  EXPECT_EQ(Heard(ben), expected);
}

TEST_F(Transport, StopWakesWaitingThreadsPromptly) {
  Endpoint& c = Join("idle");
  for (CTCPIP* e : {static_cast<CTCPIP*>(&c), static_cast<CTCPIP*>(&server)}) {
    const auto start = Clock::now();
    e->Stop();
    EXPECT_LT(Since(start), milliseconds(500));
    EXPECT_FALSE(e->IsActive());
    e->Stop();  // nothing left to stop
  }
}

namespace {
// Small buffers and a longer send limit, so that a reader is dropped by
// overflow unless the flooder filling it is held back.
class SmallBuffers : public Transport {
 protected:
  SmallBuffers() {
    limits.sendTimeout = milliseconds(2000);
    limits.outputLimit = 24 * 1024;
    limits.senderBacklogLimit = 4 * 1024;
    server.relaysOnItsThread = true;
  }
};
}  // namespace

TEST_F(SmallBuffers, FlooderIsHeldBackAloneAndLosesNothing) {
  Endpoint& reader = Join("reader");
  auto stuck = JoinRaw("stuck", 2048);
  auto flooder = JoinRaw("flooder", 1 << 20);  // room for every relay it never reads
  Endpoint& talker = Join("talker");
  reader.Take(3);  // the arrivals

  constexpr int FLOOD = 60;
  const auto flood = [](int i) { return Says("flooder", std::to_string(i) + std::string(900, '.')); };
  std::atomic<bool> flooded{false};
  std::thread writer([&] {
    for (int i = 0; i < FLOOD; ++i) flooder.Send(flood(i));
    flooded = true;
  });
  Messages got;
  const auto pump = [&] {
    server.RelayQueued();
    while (auto b = reader.Next()) got.push_back(*b);
  };
  ASSERT_TRUE(WaitFor([&] {
    pump();
    return got.size() >= 3;
  }));
  diag.Clear();
  const CPacket honest = Says("talker", "still heard");
  const auto sent = Clock::now();
  ASSERT_TRUE(talker.SendToServer(honest));
  ASSERT_TRUE(WaitFor([&] {
    pump();
    return std::find(got.begin(), got.end(), Payload(honest)) != got.end();
  }));
  EXPECT_LT(Since(sent), milliseconds(500));

  // Held back, the flooder never fills the stuck reader's output past its
  // bound: the stuck one goes at the send limit, then the flood reaches the
  // reader whole and in order.
  ASSERT_TRUE(WaitFor(
      [&] {
        pump();
        return flooded && std::count_if(got.begin(), got.end(), [](const Bytes& b) { return b.size() > 900; }) == FLOOD;
      },
      milliseconds(30000)));
  writer.join();
  int next = 0;
  for (const Bytes& b : got) {
    if (b.size() > 900) {
      EXPECT_EQ(b, Payload(flood(next++)));
    }
  }
  EXPECT_EQ(diag.Count("CTCPIP::SendMessageToAll() - send() error 110\n"), 1);
  EXPECT_EQ(diag.Count("CTCPIP::SendMessageToAll() - send() error 105\n"), 0);
  EXPECT_EQ(Names().size(), 3u);
  EXPECT_FALSE(Known("stuck"));

  // The server's own messages hold nobody back: a reader they overflow goes at once.
  auto stuck2 = JoinRaw("stuck2", 2048);
  const auto start = Clock::now();
  // Paced, so that readers that keep up do.
  for (int i = 0; i < 60 && Known("stuck2"); ++i) {
    server.SendMessageToAll(flood(i));
    std::this_thread::sleep_for(milliseconds(5));
  }
  EXPECT_TRUE(WaitFor([&] { return !Known("stuck2"); }));
  EXPECT_LT(Since(start), limits.sendTimeout);
  EXPECT_EQ(diag.Count("CTCPIP::SendMessageToAll() - send() error 105\n"), 1);
}

TEST_F(Transport, ClientSendsNeverWaitAndAServerThatTakesNothingIsLost) {
  RawListener deaf;
  Endpoint c;
  c.SetLimits(limits);
  ASSERT_TRUE(c.Startup(TYPE_CLIENT, "talker"));
  ASSERT_TRUE(c.Connect("127.0.0.1", deaf.Port()));
  auto link = deaf.Accept();
  ASSERT_TRUE(link.Valid());
  // The server never reads: each line is taken at once until the buffers and
  // what may wait are full; then lines are refused whole.
  const CPacket line = Says("talker", std::string(997, 'x'));
  const auto fill = [&] {
    auto slowest = milliseconds(0);
    for (int sent = 0;; ++sent) {
      ASSERT_LT(sent, 100000);
      const auto start = Clock::now();
      const bool taken = c.SendToServer(line);
      slowest = std::max(slowest, Since(start));
      if (!taken) break;
    }
    EXPECT_LT(slowest, limits.sendTimeout / 2);
    EXPECT_TRUE(c.IsActive());
  };
  fill();
  // Having taken nothing for the send limit, the server is lost.
  EXPECT_TRUE(WaitFor([&] { return !c.IsActive(); }));
  EXPECT_FALSE(c.SendToServer(line));

  // Connected again, at Stop what still waits gets the closing grace, no more.
  RawListener deaf2;
  ASSERT_TRUE(c.Connect("127.0.0.1", deaf2.Port()));
  auto link2 = deaf2.Accept();
  ASSERT_EQ(link2.NextMessage(milliseconds(5000), true), Whole(Welcome("talker")));
  fill();
  const auto start = Clock::now();
  c.Stop();
  EXPECT_GE(Since(start), limits.closingGrace - milliseconds(50));
  EXPECT_LT(Since(start), limits.closingGrace + milliseconds(500));
}
