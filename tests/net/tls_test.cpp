// TLS on the chat's port: a host with a key of its own, TLS client endpoints,
// peers that speak only the plain messages, and a relay in the middle that
// sees every byte, all over real loopback sockets.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "common/raw_peer.h"
#include "common/relay.h"
#include "common/test_support.h"
#include "common/web_peer.h"
#include "common/wire.h"
#include "net/tcpip.h"
#include "net/tlsstream.h"
#include "trust/passbook.h"

namespace {
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Outcome = ConnectReport::Outcome;

class Endpoint : public CTCPIP {
 public:
  ~Endpoint() override { Stop(); }
  using CTCPIP::SendToServer;
  // Waits for `p`; what came before it goes to `before`.
  bool Heard(const CPacket& p, std::vector<Bytes>* before = nullptr) {
    return WaitFor([&] {
      for (auto q = packetQueue.Pop(); q; q = packetQueue.Pop()) {
        const Bytes got(q->data, q->data + q->length);
        if (got == Payload(p)) return true;
        if (before) before->push_back(got);
      }
      return false;
    });
  }
};

bool Contains(const Bytes& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) != haystack.end();
}

std::shared_ptr<TlsContext> HostContext(const std::string& folder) {
  HostIdentity identity;
  std::string error;
  EXPECT_TRUE(LoadOrMakeHostIdentity(folder, identity, error)) << error;
  return TlsContext::ForHost(identity, error);
}

class Encrypted : public testing::Test {
 protected:
  void SetUp() override { port = StartHost(host, dir.File("host"), false); }

  uint16_t StartHost(Endpoint& server, const std::string& folder, bool encryptedOnly, const char* password = "") {
    server.SetLimits(limits);
    server.SetHostSecurity({HostContext(folder), encryptedOnly, password});
    EXPECT_TRUE(server.Startup(TYPE_SERVER));
    server.StartListening(0);
    return server.ListeningPort();
  }
  ClientSecurity Security() {
    std::string error;
    ClientSecurity security;
    security.tls = TlsContext::ForClient(error);
    security.knownHosts = known;
    security.answerWait = milliseconds(300);
    security.retryPause = milliseconds(100);
    return security;
  }
  Endpoint& Client(const char* name, const ClientSecurity& security) {
    clients.push_back(std::make_unique<Endpoint>());
    clients.back()->SetLimits(limits);
    clients.back()->SetClientSecurity(security);
    EXPECT_TRUE(clients.back()->Startup(TYPE_CLIENT, name));
    return *clients.back();
  }
  bool Known(const std::string& name) {
    for (const auto& [s, n] : host.ClientTable()) {
      if (n == name) return true;
    }
    return false;
  }
  RawPeer JoinRaw(const char* name) {
    auto peer = RawPeer::Dial(port);
    EXPECT_TRUE(peer.Send(Welcome(name)));
    EXPECT_TRUE(WaitFor([&] { return Known(name); })) << name;
    return peer;
  }

  TempDir dir;
  TransportLimits limits{milliseconds(1000), milliseconds(1000), milliseconds(1000), 0};
  std::shared_ptr<KnownHosts> known = std::make_shared<KnownHosts>(dir.File("client/known-hosts"));
  DiagCapture diag;
  Endpoint host;
  std::vector<std::unique_ptr<Endpoint>> clients;
  uint16_t port = 0;
};
}  // namespace

TEST_F(Encrypted, TlsClientAndPlainPeerShareTheChatAndARelaySeesNothingOfIt) {
  RawPeer bob = JoinRaw("bob");
  Relay relay(port);
  Endpoint& alice = Client("alice", Security());
  ASSERT_TRUE(alice.Connect("127.0.0.1", relay.Port()));
  EXPECT_EQ(alice.LastConnect().outcome, Outcome::Encrypted);
  EXPECT_EQ(known->Look("127.0.0.1", relay.Port()).key, alice.LastConnect().key);

  // A browser's WebSocket joins the same chat. The plain peer hears exactly
  // the bytes it always has; each hears the others' lines.
  EXPECT_EQ(bob.NextMessage(), Whole(Arrival("alice")));
  WebPeer web;
  ASSERT_TRUE(web.Join(port, "web"));
  EXPECT_EQ(bob.NextMessage(), Whole(Arrival("web")));
  const CPacket fromAlice = Says("alice", "the secret plan");
  ASSERT_TRUE(alice.SendToServer(fromAlice));
  ASSERT_TRUE(WaitFor([&] { return host.QueuedCount() == 1; }));
  host.SendMessageToAll(fromAlice);  // as the chat layer relays it
  EXPECT_EQ(bob.NextMessage(), Whole(fromAlice));
  const CPacket fromBob = Says("bob", "the other plan"), fromWeb = Says("web", "a third plan");
  ASSERT_TRUE(web.Send(fromWeb));
  ASSERT_TRUE(WaitFor([&] { return host.QueuedCount() == 2; }));
  host.SendMessageToAll(fromBob);
  host.SendMessageToAll(fromWeb);
  EXPECT_TRUE(alice.Heard(fromBob) && alice.Heard(fromWeb));
  EXPECT_EQ(bob.NextMessage(), Whole(fromBob));
  EXPECT_EQ(bob.NextMessage(), Whole(fromWeb));
  for (const CPacket& p : {fromAlice, fromBob}) EXPECT_EQ(web.NextMessage(), Whole(p));

  const Bytes up = relay.FromClients(), down = relay.FromHosts();
  ASSERT_FALSE(up.empty());
  EXPECT_EQ(up[0], 0x16) << "the client's first byte begins a TLS handshake";
  for (const char* text : {"alice", "bob", "web", "plan"}) {
    EXPECT_FALSE(Contains(up, text) || Contains(down, text)) << text;
  }

  // A bad record ends that connection alone, announced as any loss.
  relay.Inject({0x17, 0x03, 0x03, 0x00, 0x20, 1, 2, 3});
  relay.Inject(Bytes(29, 0));
  EXPECT_EQ(bob.NextMessage(), Whole(Departure("alice")));
  EXPECT_TRUE(WaitFor([&] { return !alice.IsActive(); }));
  EXPECT_TRUE(Known("bob"));
}

TEST_F(Encrypted, AKeyOtherThanTheOneKnownIsRefusedUnlessAccepted) {
  Endpoint impostor;
  const uint16_t impostorPort = StartHost(impostor, dir.File("impostor"), false);
  Relay relay(port);
  Endpoint& met = Client("alice", Security());
  ASSERT_TRUE(met.Connect("127.0.0.1", relay.Port()));
  const KeyDigest real = met.LastConnect().key;

  // A person in the middle ends TLS with a key of its own.
  relay.ForwardTo(impostorPort);
  Endpoint& fooled = Client("alice2", Security());
  EXPECT_FALSE(fooled.Connect("127.0.0.1", relay.Port()));
  EXPECT_EQ(fooled.LastConnect().outcome, Outcome::KeyChanged);
  EXPECT_EQ(fooled.LastConnect().expected, real.Hex());
  EXPECT_NE(fooled.LastConnect().key, real);
  EXPECT_TRUE(impostor.ClientTable().empty()) << "not a byte of the chat's went to it";

  ClientSecurity announced = Security();
  announced.announcedKey = real.ShortHex();
  announced.knownHosts = nullptr;
  Endpoint& listed = Client("alice3", announced);
  EXPECT_FALSE(listed.Connect("127.0.0.1", impostorPort));
  EXPECT_EQ(listed.LastConnect().expected, real.ShortHex());

  // A line that names the host and cannot be read hides the key it was met
  // with: the host is refused as for a changed key.
  std::ofstream(known->Path()) << "127.0.0.1 " << relay.Port() << " " << real.Hex() << " # the room\n";
  Endpoint& unsure = Client("alice5", Security());
  EXPECT_FALSE(unsure.Connect("127.0.0.1", relay.Port()));
  EXPECT_EQ(unsure.LastConnect().outcome, Outcome::KeyChanged);
  EXPECT_EQ(unsure.LastConnect().badLine, 1u);

  ClientSecurity accepting = Security();
  accepting.acceptNewKey = true;
  Endpoint& trusting = Client("alice4", accepting);
  ASSERT_TRUE(trusting.Connect("127.0.0.1", relay.Port()));
  EXPECT_EQ(known->Look("127.0.0.1", relay.Port()).key, trusting.LastConnect().key);
  EXPECT_TRUE(WaitFor([&] { return impostor.ClientTable().size() == 1; }));

  // A hosts file that cannot be read is no list of hosts never met: nobody is joined.
  std::filesystem::remove(known->Path());
  std::filesystem::create_directory(known->Path());
  Endpoint& blind = Client("alice6", accepting);
  EXPECT_FALSE(blind.Connect("127.0.0.1", relay.Port()));
  EXPECT_EQ(blind.LastConnect().outcome, Outcome::KnownHostsUnreadable);
  EXPECT_EQ(blind.LastConnect().knownHosts, known->Path());
  EXPECT_EQ(impostor.ClientTable().size(), 1u);
}

TEST_F(Encrypted, AHostWithoutTlsIsJoinedInPlainUnlessMetEncryptedBefore) {
  const ClientSecurity security = Security();
  {
    // One that waits in silence for a welcome.
    RawListener silent;
    Endpoint& c = Client("carol", security);
    const auto start = Clock::now();
    std::thread connect([&] { EXPECT_TRUE(c.Connect("127.0.0.1", silent.Port())); });
    RawPeer first = silent.Accept();
    RawPeer second = silent.Accept();
    RawPeer third = silent.Accept();
    connect.join();
    EXPECT_GE(Clock::now() - start, 2 * security.answerWait + security.retryPause);
    EXPECT_EQ(third.NextMessage(milliseconds(5000), true), Whole(Welcome("carol")));
    EXPECT_EQ(c.LastConnect().outcome, Outcome::Plain);
  }
  {
    // One that closes at the first bytes it cannot read, twice: a host that
    // speaks TLS and is full, or kept busy, closes once too.
    RawListener closing;
    Endpoint& c = Client("dave", security);
    const auto start = Clock::now();
    std::thread connect([&] { EXPECT_TRUE(c.Connect("127.0.0.1", closing.Port())); });
    closing.Accept().Close();
    closing.Accept().Close();
    RawPeer third = closing.Accept();
    connect.join();
    EXPECT_GE(Clock::now() - start, security.retryPause);
    EXPECT_LT(Clock::now() - start, security.answerWait);
    EXPECT_EQ(third.NextMessage(milliseconds(5000), true), Whole(Welcome("dave")));

    // Remembered with a key, the same address is never joined in plain text.
    std::string error;
    ASSERT_TRUE(known->Remember("127.0.0.1", closing.Port(), KeyDigest(), error));
    Endpoint& e = Client("erin", security);
    std::thread refused([&] { EXPECT_FALSE(e.Connect("127.0.0.1", closing.Port())); });
    closing.Accept().Close();
    closing.Accept().Close();
    refused.join();
    EXPECT_EQ(e.LastConnect().outcome, Outcome::PlainRefused);
  }
}

TEST_F(Encrypted, ANewcomerTurnedAwayIsToldWhyInsideTlsAndNeverJoinsInPlain) {
  // A host that takes one connection from an address, then one every 100 s.
  limits.connectBurst = 1;
  limits.connectsPerSecond = 0.01;
  Endpoint busy;
  const uint16_t busyPort = StartHost(busy, dir.File("host"), false);
  ASSERT_TRUE(Client("dora", Security()).Connect("127.0.0.1", busyPort));
  Endpoint& turned = Client("eve", Security());
  ASSERT_TRUE(turned.Connect("127.0.0.1", busyPort));
  EXPECT_EQ(turned.LastConnect().outcome, Outcome::Encrypted) << "a busy host is no host without TLS";
  ASSERT_TRUE(WaitFor([&] { return !turned.IsActive(); }));
  EXPECT_EQ(turned.Refusal(), REFUSED_TOO_FAST);
  EXPECT_EQ(turned.KeptOutSeconds(), 1u);
  // A peer of the plain protocol is closed at once, as before.
  auto plain = RawPeer::Dial(busyPort);
  plain.Send(Welcome("frank"));
  EXPECT_TRUE(plain.WaitClosed());
  EXPECT_EQ(busy.ClientCount(), 1u);
}

TEST(RefusalDesk, ASilentNewcomerGivesItsPlaceUpToTheNext) {
  TempDir dir;
  RefusalDesk desk(1, 1);
  desk.SetTls(HostContext(dir.File("host")));
  int silent[2], next[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, silent), 0);
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, next), 0);
  const auto now = RefusalDesk::Clock::now();
  desk.Take(silent[0], 1, REFUSED_CHAT_FULL, 0, now);
  desk.Take(next[0], 1, REFUSED_CHAT_FULL, 0, now);
  EXPECT_EQ(desk.Count(), 1u);
  char byte = 0;
  EXPECT_EQ(read(silent[1], &byte, 1), 0) << "closed";
  EXPECT_EQ(read(next[1], &byte, 1), -1) << "still held";
  close(silent[1]);
  close(next[1]);
}

TEST_F(Encrypted, AnEncryptedOnlyHostRefusesPlainPeersAndDropsAStalledHandshake) {
  Endpoint strict;
  const uint16_t strictPort = StartHost(strict, dir.File("host"), true);
  RawPeer plain = RawPeer::Dial(strictPort);
  ASSERT_TRUE(plain.Send(Welcome("bob")));
  EXPECT_TRUE(plain.WaitClosed(milliseconds(700)));

  // Half a handshake, then nothing: dropped at the newcomer's limit, while
  // the others chat on.
  std::string error;
  auto half = TlsStream::Connecting(TlsContext::ForClient(error));
  Bytes hello;
  ASSERT_TRUE(half->Begin(hello));
  RawPeer stalled = RawPeer::Dial(strictPort);
  const auto start = Clock::now();
  ASSERT_TRUE(stalled.Send(hello.data(), hello.size() / 2));
  Endpoint& alice = Client("alice", Security());
  ASSERT_TRUE(alice.Connect("127.0.0.1", strictPort));
  EXPECT_EQ(alice.LastConnect().outcome, Outcome::Encrypted);
  const CPacket line = Says("host", "still heard");
  ASSERT_TRUE(WaitFor([&] { return strict.ClientTable().size() == 1; }));
  strict.SendMessageToAll(line);
  EXPECT_TRUE(alice.Heard(line));
  EXPECT_TRUE(stalled.WaitClosed(milliseconds(3000)));
  EXPECT_GE(Clock::now() - start, limits.identifyTimeout);
  EXPECT_EQ(strict.WatchedSocketCount(), 2u);
}

TEST_F(Encrypted, APasswordChatTakesInOnlyThoseWhoGiveItAndNamesNobodyElse) {
  Endpoint locked;
  limits.identifyTimeout = milliseconds(3000);
  HostSetup setup;
  std::string error;
  ASSERT_TRUE(SetUpHost(dir.File("host"), "open sesame", false, "box", setup, error)) << error;
  locked.SetLimits(limits);
  locked.SetHostSecurity(setup.security);
  ASSERT_TRUE(locked.Startup(TYPE_SERVER));
  locked.StartListening(0);
  const uint16_t lockedPort = locked.ListeningPort();
  const auto passes = std::make_shared<PassBook>(dir.File("client/passes"));
  const auto join = [&](const char* name, const char* password, bool colleague = false) -> Endpoint& {
    ClientSecurity security = Security();
    security.password = password;
    if (colleague) security.passes = passes;
    Endpoint& c = Client(name, security);
    EXPECT_TRUE(c.Connect("127.0.0.1", lockedPort));
    return c;
  };
  const auto refused = [&](const char* name, const char* password, uint16_t reason) {
    Endpoint& eve = join(name, password);
    EXPECT_TRUE(WaitFor([&] { return !eve.IsActive(); })) << password;
    EXPECT_EQ(eve.Refusal(), reason) << password;
  };
  // Alice gives the password and is given a pass for this host.
  Endpoint& alice = join("alice", "open sesame", true);
  ASSERT_TRUE(WaitFor([&] { return passes->Find(setup.key).size() == 64; }));
  // No password at all is not a guess; right after a second wrong one, this
  // address's next password is not even looked at, the right one neither;
  // the pass lets a colleague through, and the host's own client needs no
  // password at all.
  for (const char* wrong : {"", "", "open sesame!", "open sesame!!"}) refused("eve", wrong, REFUSED_WRONG_PASSWORD);
  refused("eve", "open sesame!!!", REFUSED_PASSWORD_WAIT);
  refused("late", "open sesame", REFUSED_PASSWORD_WAIT);
  join("bea", "open sesame", true);
  ClientSecurity own = Security();
  own.pass = setup.security.ownPass;
  ASSERT_TRUE(Client("host", own).Connect("127.0.0.1", lockedPort));
  ASSERT_TRUE(WaitFor([&] { return locked.ClientTable().size() == 3; }));
  // A peer of the plain protocol cannot give a password: refused. A browser
  // in plain text is sent to the encrypted page, and hears nothing of the
  // chat, nor may it join.
  RawPeer plain = RawPeer::Dial(lockedPort);
  ASSERT_TRUE(plain.Send(Welcome("bob")));
  EXPECT_TRUE(plain.WaitClosed(milliseconds(700)));
  WebPeer page;
  EXPECT_EQ(page.Request(lockedPort, "GET / HTTP/1.1\r\n\r\n"), "HTTP/1.1 307 Temporary Redirect");
  const Bytes rest = page.Raw().ReadSome(milliseconds(700));
  EXPECT_FALSE(Contains(rest, "<html")) << std::string(rest.begin(), rest.end());
  WebPeer socket;
  EXPECT_EQ(socket.Upgrade(lockedPort), "HTTP/1.1 403 Forbidden");

  // Nobody refused was ever announced: alice heard only those let in before
  // the marker.
  const CPacket marker = Says("host", "marker");
  locked.SendMessageToAll(marker);
  std::vector<Bytes> before;
  EXPECT_TRUE(alice.Heard(marker, &before));
  EXPECT_EQ(before, (std::vector<Bytes>{Payload(Arrival("bea")), Payload(Arrival("host"))}));
}

// The window and the headless host both set up a host with this.
TEST(HostSetup, AHostWithoutAKeyServesPlainTextOnlyWhenAskedForNothingMore) {
  TempDir dir;
  HostSetup setup;
  std::string error;
  ASSERT_TRUE(SetUpHost(dir.File("data"), "open sesame", true, "box", setup, error)) << error;
  ASSERT_TRUE(setup.security.tls);
  EXPECT_EQ(setup.key, setup.security.tls->Key());
  EXPECT_EQ(setup.web.shortKey, setup.key.Grouped());
  EXPECT_EQ(setup.web.machineName, "box");
  EXPECT_EQ(setup.security.password, "open sesame");
  EXPECT_TRUE(setup.security.encryptedOnly);

  // A data folder that is a file: no key can be kept there.
  std::ofstream(dir.File("file")) << "not a folder\n";
  for (const bool encryptedOnly : {false, true}) {
    EXPECT_FALSE(SetUpHost(dir.File("file"), encryptedOnly ? "" : "open sesame", encryptedOnly, "box", setup, error));
    EXPECT_EQ(error.rfind("no host key (", 0), 0u) << error;
  }
  ASSERT_TRUE(SetUpHost(dir.File("file"), "", false, "box", setup, error));
  EXPECT_FALSE(setup.security.tls);
  EXPECT_EQ(setup.key, KeyDigest());
  EXPECT_EQ(setup.web.shortKey, "") << "what is left of the key set up before";
  EXPECT_FALSE(setup.noKey.empty());

  // A key others may read is not hosted on, not even in plain text: the
  // fault is said, with its mending.
  const std::string keyFile = dir.File("data/") + HOST_KEY_FILE;
  chmod(keyFile.c_str(), 0644);
  EXPECT_FALSE(SetUpHost(dir.File("data"), "", false, "box", setup, error));
  EXPECT_NE(error.find("chmod 600 " + keyFile), std::string::npos) << error;
}

TEST(WrongPasswords, AGuesserWaitsLongerEachTimeHoweverManyAddressesFillTheTable) {
  WrongPasswords table(4);
  const auto start = WrongPasswords::Clock::now();
  // The guesser tries whenever it may, for an hour; between its tries a new
  // address gives one wrong password, and the guesser's low number does not
  // make it the one forgotten.
  std::vector<uint32_t> waits;
  int tries = 0;
  for (auto now = start; now < start + std::chrono::hours(1); ++tries) {
    ASSERT_EQ(table.WaitSeconds(1, now), 0u);
    table.Note(1, now);
    table.Note(1000 + static_cast<uint32_t>(tries), now + milliseconds(1));
    waits.push_back(table.WaitSeconds(1, now));
    now += std::chrono::seconds(waits.back());
  }
  EXPECT_LE(table.Followed(), 4u);
  EXPECT_EQ(std::vector<uint32_t>(waits.begin(), waits.begin() + 8),
            (std::vector<uint32_t>{0, 1, 2, 4, 8, 16, 32, 60}));
  EXPECT_LE(tries, 70);
  // An hour without a wrong password starts the address afresh.
  const auto later = start + std::chrono::hours(3);
  table.Note(1, later);
  EXPECT_EQ(table.WaitSeconds(1, later), 0u);
  table.Note(1, later);
  EXPECT_EQ(table.WaitSeconds(1, later), 1u);
}
