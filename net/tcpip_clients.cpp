// What an endpoint does with a received block, the welcome handshake, the
// table of identified clients and the sending operations.
#include <strings.h>

#include <cerrno>
#include <cstring>

#include "net/tcpip.h"
#include "protocol/decodepacket.h"
#include "protocol/diagnostics.h"
#include "protocol/messages.h"

namespace {
// Nicknames are compared without regard to letter case.
bool SameName(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// True when a chat payload is the departure of `name` itself.
bool IsOwnDeparture(const uint8_t* payload, uint16_t n, const std::string& name) {
  CPacket packet;
  CDecodePacket decoder;
  uint16_t chatHeader = 0;
  std::string departing;
  if (!packet.SetData(payload, n) || !decoder.Initialize(packet)) return false;
  if (!decoder.GetShortValue(chatHeader) || chatHeader != CHAT_DISCONNECTED) return false;
  if (!ReadCountedString(decoder, departing)) return false;
  return SameName(name, departing.c_str());
}
}  // namespace

void CTCPIP::ProcessIncomingData(const uint8_t* bytes, uint16_t n, Socket socket) {
  Lock();
  CPacket packet;
  CDecodePacket decoder;
  uint16_t header = 0;
  if (!packet.SetData(bytes, n) || !decoder.Initialize(packet) || !decoder.GetShortValue(header)) {
    Unlock();
    Diag("CTCPIP::ProcessIncomingData() - Decoder.GetShortValue() - Can't read header\n");
    return;
  }
  Diag("ProcessIncomingData : Header = %d\n", header);
  // A single byte has no payload, and a chat or welcome header with nothing
  // behind it carries nothing.
  const bool empty = n < 2 || (n == 2 && (header == HEADER_CHAT || header == HEADER_WELCOME));
  if (empty) {
    Unlock();
    return;
  }
  const uint8_t* payload = bytes + 2;
  const uint16_t payloadLength = static_cast<uint16_t>(n - 2);
  switch (header) {
    case HEADER_CHAT:
      QueuePayload(payload, payloadLength, socket);
      break;
    case HEADER_RESERVED:
      break;
    case HEADER_WELCOME:
      ProcessWelcomeData(payload, payloadLength, socket);
      break;
    default:
      Unlock();
      Diag("CTCPIP::ProcessIncomingData() - unrecognized header type %d.\n", header);
      return;
  }
  Unlock();
}

void CTCPIP::QueuePayload(const uint8_t* payload, uint16_t n, Socket socket) {
  if (!isServer) {
    packetQueue.Push(payload, n, socket);
    return;
  }
  // Only identified connections may speak; the queued payload carries the
  // connection so the chat layer can check the nickname a line states.
  const auto entry = clientTable.find(socket);
  if (entry == clientTable.end()) return;
  auto connection = connections.find(socket);
  const uint64_t serial = connection != connections.end() ? connection->second.serial : 0;
  if (connection != connections.end() && IsOwnDeparture(payload, n, entry->second)) {
    connection->second.departed = true;
  }
  packetQueue.Push(payload, n, socket, entry->second, serial);
}

void CTCPIP::ProcessWelcomeData(const uint8_t* payload, uint16_t n, Socket socket) {
  if (isClient) {
    packetQueue.Push(payload, n, socket);
    return;
  }
  if (!isServer) return;

  Lock();
  // A second welcome on an identified connection announces nobody.
  if (clientTable.count(socket) != 0) {
    Unlock();
    return;
  }
  Unlock();

  CPacket packet;
  CDecodePacket decoder;
  uint16_t _ClientNameLength = 0;
  if (!packet.SetData(payload, n) || !decoder.Initialize(packet) || !decoder.GetShortValue(_ClientNameLength)) {
    Diag("CTCPIP::ProcessWelcomeData - Decoder.GetShortValue() - Can't read Name Length\n");
    return;
  }
  if (_ClientNameLength == 0) {
    Diag("CTCPIP::ProcessWelcomeData - Name Length = 0\n");
    return;
  }
  std::string _ClientName(_ClientNameLength, '\0');
  if (!decoder.GetString(_ClientName.data(), _ClientNameLength)) {
    Diag("CTCPIP::ProcessWelcomeData - Decoder.GetString() - Can't read Name\n");
    return;
  }
  // A name must end within its declared length; an unterminated one is refused.
  const size_t end = _ClientName.find('\0');
  if (end == std::string::npos) return;
  _ClientName.resize(end);

  Lock();
  for (const auto& [s, name] : clientTable) {
    if (SameName(name, _ClientName.c_str())) {
      Unlock();
      return;
    }
  }
  if (!SendWelcomeMessage(socket, _ClientName.c_str())) {
    Unlock();
    return;
  }
  clientTable.emplace(socket, std::move(_ClientName));
  Unlock();
}

bool CTCPIP::SendWelcomeMessage(Socket socket, const char* name) {
  CPacket packet;
  if (isClient) {
    if (!BuildClientWelcome(nickname.get(), nicknameLength, packet)) return false;
    if (!SendAll(socket, packet.data, packet.length, limits.sendTimeout)) {
      Diag("CTCPIP::SendWelcomeMessage() - send() error %d\n", LastSocketError());
      return false;
    }
    return true;
  }
  if (isServer) {
    // A nickname too long to announce is refused rather than kept secret.
    if (!BuildArrivalNotice(name, packet)) return false;
    SendMessageToAll(packet);
  }
  return true;
}

bool CTCPIP::SendToServer(const CPacket& packet) {
  return clientSocket != INVALID_SOCKET && SendBlock(clientSocket, packet);
}

bool CTCPIP::SendBlock(Socket s, const CPacket& packet) {
  return SendAll(s, packet.data, packet.length, limits.sendTimeout);
}

void CTCPIP::SendPrivateMessage(const CPacket& packet, Socket socket) {
  Lock();
  if (!SendBlock(socket, packet)) {
    Diag("CTCPIP::SendPrivateMessage() - send() error %d\n", LastSocketError());
    // Part of a message may have left: the stream can no longer be trusted.
    ForgetConnection(socket);
  }
  Unlock();
}

void CTCPIP::SendMessageToAll(const CPacket& packet) {
  Lock();
  std::vector<Socket> failed;
  for (const auto& [s, name] : clientTable) {
    if (!SendBlock(s, packet)) {
      Diag("CTCPIP::SendMessageToAll() - send() error %d\n", LastSocketError());
      failed.push_back(s);
    }
  }
  // Forgetting sends departures, which walk the table again: only after this walk.
  for (Socket s : failed) ForgetConnection(s);
  Unlock();
}

void CTCPIP::RemoveClientByName(const char* name) {
  if (name == nullptr) return;
  Lock();
  for (auto it = clientTable.begin(); it != clientTable.end(); ++it) {
    if (!SameName(it->second, name)) continue;
    const Socket s = it->first;
    clientTable.erase(it);
    connections.erase(s);
    readSet.Remove(s);
    ReleaseSocket(s);
    break;
  }
  Unlock();
}

void CTCPIP::ForgetConnection(Socket s) {
  Lock();
  const auto connection = connections.find(s);
  const auto known = clientTable.find(s);
  if (connection == connections.end() && known == clientTable.end()) {
    Unlock();
    return;
  }
  const bool departed = connection != connections.end() && connection->second.departed;
  if (connection != connections.end()) connections.erase(connection);
  readSet.Remove(s);
  ReleaseSocket(s);
  const auto entry = clientTable.find(s);
  if (entry != clientTable.end()) {
    const std::string name = entry->second;
    clientTable.erase(entry);
    CPacket departure;
    if (!departed && BuildDisconnected(name.c_str(), departure)) SendMessageToAll(departure);
  }
  Unlock();
}

bool CTCPIP::IsSameConnection(Socket s, uint64_t serial) {
  Lock();
  const auto connection = connections.find(s);
  const uint64_t current = connection != connections.end() ? connection->second.serial : 0;
  const bool same = clientTable.count(s) != 0 && current == serial;
  Unlock();
  return same;
}

void CTCPIP::ReleaseSocket(Socket s) {
  if (IsCurrentThread() || !active) {
    CloseSocket(s);
    return;
  }
  ShutdownSocket(s);
  deferredClose.push_back(s);
  wake.Signal();
}

void CTCPIP::CloseDeferredSockets() {
  for (Socket s : deferredClose) CloseSocket(s);
  deferredClose.clear();
}
