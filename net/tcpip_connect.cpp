// A client's join: TLS first, plain text only with a host that does not
// speak TLS and was never met encrypted, and the host's key checked against
// the one remembered before anything of the chat's is sent.
#include <cassert>
#include <cerrno>
#include <thread>

#include "net/passtiming.h"
#include "net/tcpip.h"
#include "net/tlsstream.h"
#include "protocol/diagnostics.h"

namespace {
using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

bool CTCPIP::Connect(const char* address, uint16_t port) {
  assert(!IsCurrentThread());
  // A second connection would orphan the first socket and its thread.
  if (!IsClient() || active) return false;
  // A socket thread that stopped itself after losing its server must be gone
  // before its socket is.
  Wait();
  clientSocket.Close();
  serverStream.clear();
  lastConnect = ConnectReport();
  refusal = 0;
  keptOutSeconds = 0;
  const bool joined = clientSecurity.tls ? JoinEncryptedFirst(address, port) : JoinPlain(address, port);
  if (!joined) {
    clientSocket.Close();
    return false;
  }
  if (!SendWelcomeMessage(clientSocket.Get(), nickname.get())) {
    Diag("CTCPIP::Connect() - SendWelcomeMessage() - Welcome message hasn't been sent.\n");
    clientSocket.Close();
    return false;
  }
  active = true;
  Start();
  return true;
}

bool CTCPIP::OpenConnection(const char* address, uint16_t port, UniqueSocket& opened) {
  UniqueSocket fresh(CreateTcpSocket());
  if (!fresh.Valid()) {
    Diag("CTCPIP::Connect() - socket() - error : %ld\n", static_cast<long>(LastSocketError()));
    return false;
  }
  if (!ConnectTo(fresh.Get(), address, port, limits.connectTimeout)) {
    Diag("CTCPIP::Connect() - Client failed to connect.\n");
    return false;
  }
  SetNoDelay(fresh.Get());
  opened = std::move(fresh);
  return true;
}

bool CTCPIP::JoinPlain(const char* address, uint16_t port) {
  UniqueSocket opened;
  lastConnect.outcome = ConnectReport::Outcome::Failed;
  if (!OpenConnection(address, port, opened)) return false;
  clientSocket.Attach(opened.Release());
  lastConnect.outcome = ConnectReport::Outcome::Plain;
  return true;
}

bool CTCPIP::JoinEncryptedFirst(const char* address, uint16_t port) {
  lastConnect.outcome = ConnectReport::Outcome::Failed;
  UniqueSocket opened;
  if (!OpenConnection(address, port, opened)) return false;
  std::unique_ptr<TlsStream> tls = TlsStream::Connecting(clientSecurity.tls);
  if (!tls) {
    Diag("CTCPIP::Connect() - no TLS connection could be made.\n");
    return false;
  }
  std::vector<uint8_t> early;
  HandshakeResult result = Handshake(opened.Get(), *tls, early);
  if (result == HandshakeResult::NoAnswer) {
    // Asked again after a pause, on a new connection: a host that speaks TLS
    // and was full, or kept busy, answers then.
    opened.Reset();
    std::this_thread::sleep_for(clientSecurity.retryPause);
    tls = TlsStream::Connecting(clientSecurity.tls);
    if (!tls || !OpenConnection(address, port, opened)) return false;
    result = Handshake(opened.Get(), *tls, early);
  }
  switch (result) {
    case HandshakeResult::Done: break;
    case HandshakeResult::NoAnswer: return FallBackToPlain(address, port);
    case HandshakeResult::Failed: Diag("CTCPIP::Connect() - TLS handshake failed.\n"); return false;
  }
  const std::optional<KeyDigest> key = tls->PeerKey();
  if (!key || !TrustHost(address, port, *key)) return false;
  clientSocket.Attach(opened.Release(), std::move(tls));
  lastConnect.outcome = ConnectReport::Outcome::Encrypted;
  lastConnect.key = *key;
  // The socket thread is not running yet: what came with the handshake is
  // handled here.
  if (!early.empty()) HandleServerBytes(early.data(), early.size());
  return true;
}

CTCPIP::HandshakeResult CTCPIP::Handshake(Socket s, TlsStream& tls, std::vector<uint8_t>& early) {
  std::vector<uint8_t> own;
  size_t written = 0;
  if (!tls.Begin(own)) return HandshakeResult::Failed;
  // A host that closes at the first bytes of a handshake did not answer it.
  if (!SendAll(s, own.data(), own.size(), limits.sendTimeout, written)) return HandshakeResult::NoAnswer;
  const auto start = Clock::now();
  bool answered = false;
  while (!tls.Ready()) {
    // A host that speaks only plain messages waits for a welcome in silence.
    const auto deadline = start + (answered ? limits.connectTimeout : clientSecurity.answerWait);
    pollfd p{s, POLLIN, 0};
    const int ready = WaitForEvents(&p, 1, RemainingMs(deadline));
    if (ready < 0) return HandshakeResult::Failed;
    if (ready == 0) return answered ? HandshakeResult::Failed : HandshakeResult::NoAnswer;
    uint8_t InData[RECEIVE_SIZE];
    const long n = ReceiveSome(s, InData, sizeof InData);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return answered ? HandshakeResult::Failed : HandshakeResult::NoAnswer;
    answered = true;
    own.clear();
    if (!tls.Open(InData, static_cast<size_t>(n), early, own)) return HandshakeResult::Failed;
    if (!own.empty() && !SendAll(s, own.data(), own.size(), limits.sendTimeout, written)) {
      return HandshakeResult::Failed;
    }
  }
  return HandshakeResult::Done;
}

bool CTCPIP::KnownHostsUnreadable(const HostEntry& entry) {
  if (entry.state != HostEntry::State::Unreadable && entry.state != HostEntry::State::BadLine) return false;
  lastConnect.knownHosts = clientSecurity.knownHosts->Path();
  lastConnect.problem = entry.reason;
  lastConnect.badLine = entry.line;
  if (entry.state != HostEntry::State::Unreadable) return false;
  Diag("CTCPIP::Connect() - %s: no key can be checked, not joined.\n", entry.reason.c_str());
  lastConnect.outcome = ConnectReport::Outcome::KnownHostsUnreadable;
  return true;
}

bool CTCPIP::FallBackToPlain(const char* address, uint16_t port) {
  const HostEntry entry = clientSecurity.knownHosts ? clientSecurity.knownHosts->Look(address, port) : HostEntry{};
  if (KnownHostsUnreadable(entry)) return false;
  // Met encrypted before (or announced with a key, or named by a line that
  // cannot be read), a host is never joined in plain text: whoever answers
  // now in its place could read everything.
  if (entry.state != HostEntry::State::NotMet || !clientSecurity.announcedKey.empty()) {
    Diag("CTCPIP::Connect() - the host offers no TLS but was known with a key: not joined.\n");
    lastConnect.outcome = ConnectReport::Outcome::PlainRefused;
    lastConnect.expected = entry.state == HostEntry::State::Met ? entry.key.Hex() : clientSecurity.announcedKey;
    return false;
  }
  if (clientSecurity.askBeforePlain) {
    lastConnect.outcome = ConnectReport::Outcome::PlainOffered;
    return false;
  }
  return JoinPlain(address, port);
}

bool CTCPIP::TrustHost(const char* address, uint16_t port, const KeyDigest& key) {
  KnownHosts* known = clientSecurity.knownHosts.get();
  const HostEntry entry = known ? known->Look(address, port) : HostEntry{};
  // A file that cannot be read refuses every host, even with a new key
  // accepted: it could not be remembered either.
  if (KnownHostsUnreadable(entry)) return false;
  const bool met = entry.state == HostEntry::State::Met;
  const std::string& announced = clientSecurity.announcedKey;
  std::string expected;
  if (met && entry.key != key) expected = entry.key.Hex();
  else if (!met && !announced.empty() && !key.MatchesShort(announced)) expected = announced;
  const bool changed = !expected.empty() || entry.state == HostEntry::State::BadLine;
  if (changed && !clientSecurity.acceptNewKey) {
    Diag("CTCPIP::Connect() - the host's key is not the one known for it: not joined.\n");
    lastConnect.outcome = ConnectReport::Outcome::KeyChanged;
    lastConnect.key = key;
    lastConnect.expected = expected;
    return false;
  }
  std::string error;
  if (known && !(met && entry.key == key) && !known->Remember(address, port, key, error)) {
    Diag("CTCPIP::Connect() - the host's key is not remembered: %s\n", error.c_str());
  }
  return true;
}
