// Who a server lets in: inside TLS a newcomer may send its HELLO before its
// welcome, carrying the chat's password; the welcome of a chat with a password
// is taken only behind a HELLO that gave it, so that nobody hears of a
// newcomer who did not. A wrong password is told to the newcomer and the
// connection ends; an address that gives several wrong ones within a minute is
// refused for a minute, whatever it then gives.
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>

#include "net/tcpip.h"
#include "protocol/extension.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t WRONG_PASSWORDS_ALLOWED = 5;
constexpr auto WRONG_PASSWORD_WINDOW = std::chrono::minutes(1);
constexpr auto REFUSAL_TIME = std::chrono::minutes(1);
// Addresses followed at most: beyond this the oldest are forgotten.
constexpr size_t ADDRESSES_FOLLOWED = 1024;

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
  std::string password;
  OpenExtension(block, n, opened);
  if (!ReadHello(opened.fields, connection.understands, password)) connection.understands = 0;
  connection.helloFirst = true;
  if (hostSecurity.password.empty()) return;
  const auto now = Clock::now();
  if (RefusedForTries(connection.address, now)) {
    Refuse(s, connection, REFUSED_TOO_MANY_TRIES);
  } else if (PasswordMatches(password)) {
    connection.admitted = true;
  } else {
    NoteWrongPassword(connection.address, now);
    Refuse(s, connection, REFUSED_WRONG_PASSWORD);
  }
}

bool CTCPIP::PasswordMatches(const std::string& given) const {
  // Digests of equal length, compared in constant time: how long the
  // comparison takes says nothing of the password.
  const auto a = Sha256(given), b = Sha256(hostSecurity.password);
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool CTCPIP::RefusedForTries(uint32_t address, Clock::time_point now) {
  const auto it = refusedUntil.find(address);
  if (it == refusedUntil.end()) return false;
  if (now < it->second) return true;
  refusedUntil.erase(it);
  return false;
}

void CTCPIP::NoteWrongPassword(uint32_t address, Clock::time_point now) {
  std::vector<Clock::time_point>& tries = wrongPasswords[address];
  std::erase_if(tries, [&](Clock::time_point t) { return now - t >= WRONG_PASSWORD_WINDOW; });
  tries.push_back(now);
  if (tries.size() >= WRONG_PASSWORDS_ALLOWED) {
    refusedUntil[address] = now + REFUSAL_TIME;
    wrongPasswords.erase(address);
  }
  // A flood of addresses cannot grow these without bound.
  std::erase_if(wrongPasswords, [&](const auto& entry) {
    return entry.second.empty() || now - entry.second.back() >= WRONG_PASSWORD_WINDOW;
  });
  std::erase_if(refusedUntil, [&](const auto& entry) { return now >= entry.second; });
  while (wrongPasswords.size() > ADDRESSES_FOLLOWED) wrongPasswords.erase(wrongPasswords.begin());
}

void CTCPIP::Refuse(Socket s, ServerConnections::Watched& connection, uint16_t reason) {
  CPacket refused;
  connection.closing = true;
  if (BuildRefused(reason, refused)) connections.Queue(s, refused, 0);
}

void CTCPIP::DropEnded() {
  for (Socket s : connections.Ended()) ForgetConnection(s);
}

bool CTCPIP::Seat(uint32_t address, bool counted) {
  const auto crowded = [&] { return counted && connections.CountFrom(address) >= limits.maxPerAddress; };
  if (crowded()) {
    const Socket idle = connections.LongestIdle(address);
    if (idle != INVALID_SOCKET) DropConnection(idle);
  }
  if (readSet.Full()) {
    const Socket idle = connections.LongestIdle(std::nullopt);
    if (idle != INVALID_SOCKET) DropConnection(idle);
  }
  return !readSet.Full() && !crowded();
}
