// What an endpoint does with a received block, the welcome handshake, the
// table of identified clients and the sending operations.
#include <openssl/crypto.h>
#include <strings.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "net/tcpip.h"
#include "net/webstream.h"
#include "protocol/decodepacket.h"
#include "protocol/diagnostics.h"
#include "protocol/extension.h"
#include "protocol/messages.h"
#include "protocol/nickname.h"
#include "trust/hex.h"
#include "trust/passbook.h"

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
  CMonitorGuard guard(*this);
  CPacket packet;
  CDecodePacket decoder;
  uint16_t header = 0;
  if (!packet.SetData(bytes, n) || !decoder.Initialize(packet) || !decoder.GetShortValue(header)) {
    Diag("CTCPIP::ProcessIncomingData() - Decoder.GetShortValue() - Can't read header\n");
    return;
  }
  Diag("ProcessIncomingData : Header = %d\n", header);
  // A single byte has no payload, and a chat or welcome header with nothing
  // behind it carries nothing.
  const bool empty = n < 2 || (n == 2 && (header == HEADER_CHAT || header == HEADER_WELCOME));
  if (empty) return;
  const uint8_t* payload = bytes + 2;
  const uint16_t payloadLength = static_cast<uint16_t>(n - 2);
  switch (header) {
    case HEADER_CHAT: QueuePayload(payload, payloadLength, socket); break;
    case HEADER_RESERVED: ProcessReservedData(bytes, n, socket); break;
    case HEADER_WELCOME: ProcessWelcomeData(payload, payloadLength, socket); break;
    default: Diag("CTCPIP::ProcessIncomingData() - unrecognized header type %d.\n", header); break;
  }
}

void CTCPIP::QueuePayload(const uint8_t* payload, uint16_t n, Socket socket) {
  if (!IsServer()) {
    packetQueue.Push(payload, n, socket);
    return;
  }
  // Only identified connections may speak; the queued payload carries the
  // connection so the chat layer can check the nickname a line states.
  const Participant* participant = clientTable.Find(socket);
  if (participant == nullptr) return;
  ServerConnections::Watched* connection = connections.Find(socket);
  if (connection == nullptr) return;
  // Whoever has said goodbye says nothing more: a line queued after its
  // sender's departure would reach the others after that departure.
  if (connection->departed) return;
  if (IsOwnDeparture(payload, n, participant->name)) connection->departed = true;
  packetQueue.Push(payload, n, socket, participant->name, connection->serial);
}

void CTCPIP::ProcessReservedData(const uint8_t* block, uint16_t n, Socket socket) {
  ExtensionBlock opened;
  if (!OpenExtension(block, n, opened)) return;
  if (IsClient()) {
    uint16_t reason = 0;
    uint32_t seconds = 0;
    // The host ends the connection next: why is kept for the owner to say.
    if (opened.kind == EXT_REFUSED && ReadRefused(opened.fields, reason, seconds)) {
      keptOutSeconds = seconds;
      refusal = reason;
    } else if (opened.kind == EXT_PASS) {
      KeepPass(opened.fields);
    } else {
      packetQueue.PushExtension(block, n);
    }
    return;
  }
  if (!IsServer()) return;
  if (opened.kind == EXT_FILE || opened.kind == EXT_PICTURE) {
    // Only one who was given a ticket shares files; the details and the
    // picture go in turn with the sharer's lines, behind the one that
    // announces the file.
    const Participant* sharer = clientTable.Find(socket);
    const ServerConnections::Watched* connection = connections.Find(socket);
    if (sharer != nullptr && !sharer->ticket.empty() && connection != nullptr && !connection->departed) {
      packetQueue.PushExtension(block, n, socket, sharer->name, connection->serial);
    }
    return;
  }
  if (opened.kind != EXT_HELLO) return;
  uint16_t understands = 0;
  std::string password;
  // Only an identified connection's first HELLO is answered.
  if (!ReadHello(opened.fields, understands, password) || !clientTable.MarkAsked(socket)) return;
  AnswerHello(socket, understands);
}

void CTCPIP::AnswerHello(Socket, uint16_t) {}

void CTCPIP::KeepPass(CDecodePacket& fields) {
  std::string pass, error;
  // Only a host whose key was checked gives a pass worth keeping.
  if (!clientSocket.Encrypted() || !clientSecurity.passes || !ReadPass(fields, pass)) return;
  if (!clientSecurity.passes->Keep(lastConnect.key, pass, error)) {
    Diag("CTCPIP::KeepPass() - %s\n", error.c_str());
  }
}

void CTCPIP::ProcessWelcomeData(const uint8_t* payload, uint16_t n, Socket socket) {
  if (IsClient()) {
    packetQueue.Push(payload, n, socket);
    return;
  }
  if (!IsServer()) return;

  CMonitorGuard guard(*this);
  // A second welcome on an identified connection announces nobody.
  if (clientTable.Has(socket)) return;

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
  // A name must lie within the message that carries it: the packet's spare
  // capacity behind the data is not the peer's to claim.
  if (_ClientNameLength > n - 2u || !decoder.GetString(_ClientName.data(), _ClientNameLength)) {
    Diag("CTCPIP::ProcessWelcomeData - Decoder.GetString() - Can't read Name\n");
    return;
  }
  // A name must end within its declared length; an unterminated one is refused.
  const size_t end = _ClientName.find('\0');
  if (end == std::string::npos) return;
  _ClientName.resize(end);
  if (!AcceptableName(_ClientName)) return;
  // A nickname too long to announce is refused rather than kept secret.
  if (!SendWelcomeMessage(socket, _ClientName.c_str())) return;
  const bool hostUser = ownUser.has_value() && PeerAddress(socket) == *ownUser;
  clientTable.Add(socket, std::move(_ClientName), UtcSecondsNow(), hostUser);
  PeopleChanged();
}

void CTCPIP::PeopleChanged() {
  if (WakeEvent* watch = peopleWatch.load()) watch->Signal();
}

bool CTCPIP::AcceptableName(const std::string& name) const {
  return IsAcceptableNickname(name) && clientTable.FindByName(name.c_str()) == INVALID_SOCKET;
}

std::unique_ptr<CQueuedPacket> CTCPIP::PopQueued() {
  std::unique_ptr<CQueuedPacket> packet = packetQueue.Pop();
  // The count passes half the limit once on its way down from full.
  if (packet && IsClient() && packetQueue.GetCount() == limits.clientQueueLimit / 2) wake.Signal();
  return packet;
}

bool CTCPIP::SendWelcomeMessage([[maybe_unused]] Socket socket, const char* name) {
  CPacket packet;
  if (IsClient()) {
    // Sent through the connection's stream, which Connect has attached to
    // `socket`: at once, or by the socket thread as the socket takes it.
    assert(socket == clientSocket.Get());
    // Inside TLS, where only hosts of our own answer, the HELLO comes first
    // with the chat's password, so that a host checks it before anyone hears
    // of the arrival. In plain text it leaves in the same write, right behind
    // the welcome: a server that takes one receive as one message reads the
    // welcome's fields and ignores what follows them, so the HELLO never
    // shares a receive with a chat line there; our own servers cut it out by
    // its length. A password never goes in plain text.
    const bool encrypted = clientSocket.Encrypted();
    CPacket hello;
    std::string pass = clientSecurity.pass;
    if (pass.empty() && encrypted && clientSecurity.passes) pass = clientSecurity.passes->Find(lastConnect.key);
    if (!BuildClientWelcome(nickname.get(), nicknameLength, packet) ||
        !BuildHello(
            encrypted ? CLIENT_UNDERSTANDS_ENCRYPTED | (asksForFiles ? UNDERSTANDS_FILES : 0) : CLIENT_UNDERSTANDS,
            encrypted ? clientSecurity.password : "", hello, encrypted ? pass : "")) {
      return false;
    }
    const CPacket& first = encrypted ? hello : packet;
    const CPacket& second = encrypted ? packet : hello;
    uint8_t both[2 * PACKET_CAPACITY];
    std::memcpy(both, first.data, first.length);
    std::memcpy(both + first.length, second.data, second.length);
    if (!SendToServer(both, size_t{first.length} + second.length)) {
      Diag("CTCPIP::SendWelcomeMessage() - send() error %d\n", LastSocketError());
      return false;
    }
    return true;
  }
  if (IsServer()) {
    if (!BuildArrivalNotice(name, packet)) return false;
    SendMessageToAll(packet);
  }
  return true;
}

bool CTCPIP::SendToServer(const CPacket& packet) { return SendToServer(packet.data, packet.length); }

bool CTCPIP::SendToServer(const uint8_t* bytes, size_t n) {
  bool leftWaiting = false;
  if (!clientSocket.Send(bytes, n, leftWaiting)) return false;
  // What the socket did not take, the socket thread writes once it can.
  if (leftWaiting) wake.Signal();
  return true;
}

void CTCPIP::SendPrivateMessage(const CPacket& packet, Socket socket, uint64_t origin) {
  CMonitorGuard guard(*this);
  if (connections.Queue(socket, packet, origin)) return;
  Diag("CTCPIP::SendPrivateMessage() - send() error %d\n", LastSocketError());
  // A failed reader goes at the end of the pass; with no pass running, now.
  if (!connections.InBatch()) FinishPass();
}

void CTCPIP::SendMessageToAll(const CPacket& packet, uint64_t origin) {
  CMonitorGuard guard(*this);
  bool failed = false;
  clientTable.ForEach([&](Socket s, const Participant&) {
    if (!connections.Queue(s, packet, origin)) {
      Diag("CTCPIP::SendMessageToAll() - send() error %d\n", LastSocketError());
      failed = true;
    }
  });
  if (failed && !connections.InBatch()) FinishPass();
}

void CTCPIP::BeginOutputBatch() {
  CMonitorGuard guard(*this);
  connections.BeginBatch();
}

void CTCPIP::EndOutputBatch() {
  CMonitorGuard guard(*this);
  connections.EndBatch();
  // Whatever any batch appended leaves now: nothing waits past the end of
  // the pass that relayed it.
  FinishPass();
  connections.WakeHeldBack();
}

void CTCPIP::FinishPass() {
  WritePending();
  DropFailedConnections();
  WritePending();
  DropEnded();
}

void CTCPIP::WritePending() {
  for (const int error : connections.WritePending()) Diag("CTCPIP::SendMessageToAll() - send() error %d\n", error);
}

void CTCPIP::DropFailedConnections() {
  // Their departures collect like any relay, for the write that follows.
  connections.BeginBatch();
  for (Socket s : connections.TakeFailed()) ForgetFailedReader(s);
  connections.EndBatch();
}

void CTCPIP::RemoveClientByName(const char* name) {
  if (name == nullptr) return;
  CMonitorGuard guard(*this);
  const Socket s = clientTable.FindByName(name);
  if (s != INVALID_SOCKET) DropConnection(s);
}

void CTCPIP::ForgetConnection(Socket s) {
  CMonitorGuard guard(*this);
  const ServerConnections::Watched* connection = connections.Find(s);
  const Participant* participant = clientTable.Find(s);
  if (connection == nullptr && participant == nullptr) return;
  const bool departed = connection != nullptr && connection->departed;
  const bool known = participant != nullptr;
  const std::string name = known ? participant->name : std::string();
  DropConnection(s);
  CPacket departure;
  if (known && !departed && BuildDisconnected(name.c_str(), departure)) SendMessageToAll(departure);
}

void CTCPIP::ForgetFailedReader(Socket s) {
  if (const ServerConnections::Watched* connection = connections.Find(s)) ResetOnClose(connection->Get());
  ForgetConnection(s);
}

void CTCPIP::DropConnection(Socket s) {
  if (Identified(s)) PeopleChanged();
  clientTable.Remove(s);
  readSet.Remove(s);
  connections.Drop(s);
}

void CTCPIP::HandOffToFileDoor(Socket s) {
  auto* web = static_cast<WebStream*>(connections.Find(s)->stream.get());
  FileExchange exchange;
  exchange.request = web->Request();
  exchange.rest = web->TakeRest();
  exchange.address = connections.Find(s)->address;
  Connection released;
  if (!connections.Release(s, released)) {
    ForgetConnection(s);
    return;
  }
  readSet.Remove(s);
  exchange.socket = std::move(released.socket);
  exchange.stream = static_cast<WebStream*>(released.stream.get())->TakeInner();
  fileHandOff(std::move(exchange));
}

std::string CTCPIP::GiveTicket(Socket s) {
  if (!Sharing() || !Identified(s)) return {};
  std::string ticket = RandomHex(16);
  clientTable.SetTicket(s, ticket);
  return ticket;
}

bool CTCPIP::HoldsTicket(const std::string& ticket, uint32_t address) {
  if (ticket.empty()) return false;
  CMonitorGuard guard(*this);
  bool holds = false;
  clientTable.ForEach([&](Socket s, const Participant& participant) {
    const ServerConnections::Watched* connection = connections.Find(s);
    holds = holds ||
            (participant.ticket.size() == ticket.size() && connection != nullptr && connection->address == address &&
             CRYPTO_memcmp(participant.ticket.data(), ticket.data(), ticket.size()) == 0);
  });
  return holds;
}

bool CTCPIP::IsSameConnection(Socket s, uint64_t serial) {
  CMonitorGuard guard(*this);
  const ServerConnections::Watched* connection = connections.Find(s);
  const uint64_t current = connection != nullptr ? connection->serial : 0;
  return Identified(s) && current == serial;
}
