// Who a server lets in: inside TLS a newcomer may send its HELLO before its
// welcome, carrying the chat's password; the welcome of a chat with a password
// is taken only behind a HELLO that gave it, so that nobody hears of a
// newcomer who did not. A wrong password is told to the newcomer and the
// connection ends; after a second wrong one, the address's next password is
// looked at only once a growing wait has passed, except from those who hold a
// pass.
#include <arpa/inet.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>

#include "net/tcpip.h"
#include "protocol/extension.h"
#include "protocol/messages.h"

namespace {
using Clock = std::chrono::steady_clock;
// A keep-out's time as REFUSED_REMOVED says it: KEPT_OUT_UNTIL_STOP for one
// that lasts until the host stops.
uint32_t SecondsLeft(Clock::time_point until, Clock::time_point now) {
  if (until == Clock::time_point::max()) return KEPT_OUT_UNTIL_STOP;
  const int64_t left = std::chrono::ceil<std::chrono::seconds>(until - now).count();
  return static_cast<uint32_t>(std::clamp<int64_t>(left, 0, KEPT_OUT_UNTIL_STOP - 1));
}

std::array<unsigned char, 32> Sha256(const std::string& text) {
  std::array<unsigned char, 32> digest{};
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}
}  // namespace

bool CTCPIP::IsEarlyHello(const ServerConnections::Watched& connection, const uint8_t* block, uint16_t n) const {
  ExtensionBlock opened;
  return connection.Encrypted() && !connection.helloFirst && OpenExtension(block, n, opened) &&
         opened.kind == EXT_HELLO;
}

bool CTCPIP::Admitted(const ServerConnections::Watched& connection) const {
  return hostSecurity.password.empty() || connection.admitted;
}

void CTCPIP::ProcessEarlyHello(Socket s, ServerConnections::Watched& connection, const uint8_t* block, uint16_t n) {
  ExtensionBlock opened;
  std::string password, pass;
  OpenExtension(block, n, opened);
  if (!ReadHello(opened.fields, connection.understands, password, &pass)) connection.understands = 0;
  connection.helloFirst = true;
  if (hostSecurity.password.empty()) return;
  // The host's own client never gives the password, so no guesser can hold
  // the host's user back.
  if (SamePass(pass, hostSecurity.ownPass)) {
    connection.admitted = true;
    return;
  }
  // Whoever knew the password before is not held back with the address's
  // guesser; a guesser never had the pass.
  const bool colleague = SamePass(pass, hostSecurity.colleaguePass);
  const auto now = Clock::now();
  // Until the wait has passed the password is not even looked at: an answer
  // at once, right or wrong, would tell a guesser as much as a check.
  if (const uint32_t wait = wrongPasswords.WaitSeconds(connection.address, now); wait > 0 && !colleague) {
    Refuse(s, connection, REFUSED_PASSWORD_WAIT, wait);
  } else if (PasswordMatches(password)) {
    connection.admitted = true;
    CPacket given;
    if (!colleague && (connection.understands & UNDERSTANDS_PASS) != 0 &&
        BuildPass(hostSecurity.colleaguePass, given)) {
      connections.Queue(s, given, 0);
    }
  } else {
    // No password at all tells a guesser nothing: it is how a client learns
    // that the chat has one.
    if (!colleague && !password.empty()) wrongPasswords.Note(connection.address, now);
    Refuse(s, connection, REFUSED_WRONG_PASSWORD);
  }
}

bool CTCPIP::PasswordMatches(const std::string& given) const {
  // Digests of equal length, compared in constant time: how long the
  // comparison takes says nothing of the password.
  const auto a = Sha256(given), b = Sha256(hostSecurity.password);
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool CTCPIP::SamePass(const std::string& given, const std::string& pass) {
  return !pass.empty() && given.size() == pass.size() && CRYPTO_memcmp(given.data(), pass.data(), pass.size()) == 0;
}

void CTCPIP::Refuse(Socket s, ServerConnections::Watched& connection, uint16_t reason, uint32_t seconds) {
  CPacket refused;
  connection.closing = true;
  if (BuildRefused(reason, refused, seconds)) connections.Queue(s, refused, 0);
}

bool CTCPIP::ShowOut(const char* name, std::chrono::seconds keepOut) {
  if (name == nullptr) return false;
  CMonitorGuard guard(*this);
  const Socket s = clientTable.FindByName(name);
  const Participant* participant = clientTable.Find(s);
  ServerConnections::Watched* connection = connections.Find(s);
  if (participant == nullptr || connection == nullptr) return false;
  const auto now = Clock::now();
  const auto until = keepOut.count() > 0 ? now + keepOut : Clock::time_point::max();
  keptOut.Hold(connection->address, until);
  const std::string leaving = participant->name;
  if (participant->asked) {
    // Our own clients are told why, and do not come back by themselves while
    // kept out; the connection ends once that has left.
    clientTable.Remove(s);
    PeopleChanged();
    Refuse(s, *connection, REFUSED_REMOVED, SecondsLeft(until, now));
    wake.Signal();
  } else {
    DropConnection(s);
  }
  // Everyone else sees the departure of a connection that ended.
  CPacket departure;
  if (BuildDisconnected(leaving.c_str(), departure)) SendMessageToAll(departure);
  return true;
}

void CTCPIP::DropEnded() {
  for (Socket s : connections.Ended()) ForgetConnection(s);
}

uint16_t CTCPIP::Seat(uint32_t address, bool counted) {
  const auto crowded = [&] { return counted && connections.CountFrom(address) >= limits.maxPerAddress; };
  if (crowded()) {
    const Socket idle = connections.LongestIdle(address);
    if (idle != INVALID_SOCKET) DropConnection(idle);
  }
  if (readSet.Full()) {
    const Socket idle = connections.LongestIdle(std::nullopt);
    if (idle != INVALID_SOCKET) DropConnection(idle);
  }
  if (crowded()) return REFUSED_ADDRESS_FULL;
  return readSet.Full() ? REFUSED_CHAT_FULL : 0;
}

uint16_t CTCPIP::Turned(uint32_t address, bool counted, uint32_t& seconds) {
  const auto now = Clock::now();
  seconds = 0;
  if (const auto until = keptOut.Until(address, now)) {
    seconds = SecondsLeft(*until, now);
    return REFUSED_REMOVED;
  }
  // Spending nothing on a flood comes first: the rate is looked at before
  // any seat is freed for the newcomer.
  if (!connectRate.Take(address, now)) {
    seconds = 1;
    return REFUSED_TOO_FAST;
  }
  const uint16_t seat = Seat(address, counted);
  if (seat == 0) saidFull = false;
  if (seat == REFUSED_CHAT_FULL && !saidFull) {
    saidFull = true;
    if (fullWatch) fullWatch(FullLine());
  }
  return seat;
}

std::string CTCPIP::FullLine() const {
  std::string line = "The chat is full (" + std::to_string(readSet.fd_count - 1) + " connections): most come from ";
  const auto busiest = connections.Busiest(3);
  for (size_t i = 0; i < busiest.size(); ++i) {
    line +=
        (i == 0 ? "" : ", ") + DottedAddress(htonl(busiest[i].first)) + " (" + std::to_string(busiest[i].second) + ")";
  }
  return line;
}
