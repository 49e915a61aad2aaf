// Starting and stopping the endpoint in one role, and the dispatch of
// received chat messages.
#include "chat/jaselonetwork.h"

#include <strings.h>

#include "protocol/diagnostics.h"

namespace {
// A received string up to its first NUL, or all of it when it has none.
std::string Terminated(const std::string& bytes) { return std::string(bytes.c_str()); }

void FillLine(ChatEvent& event, ChatLine&& line, uint16_t type) {
  static_cast<ChatLine&>(event) = std::move(line);
  event.Type = type;
}

void FillName(ChatEvent& event, const std::string& name, uint16_t type) {
  event.NameLength = static_cast<uint16_t>(name.size());
  event.Name.Assign(name.data(), name.size());
  event.Type = type;
}
}  // namespace

bool CJaseloNetwork::StartupServer() {
  if (Role()) return false;
  return Startup(TYPE_SERVER);
}

void CJaseloNetwork::ServerListen(uint16_t port) {
  if (IsServer()) StartListening(port);
}

void CJaseloNetwork::StopServer() {
  if (IsServer()) Stop();
}

bool CJaseloNetwork::StartupClient(const char* nickname) {
  if (Role()) return false;
  return Startup(TYPE_CLIENT, nickname);
}

bool CJaseloNetwork::ClientConnect(const char* address, uint16_t port) { return IsClient() && Connect(address, port); }

void CJaseloNetwork::StopClient() {
  if (IsClient()) Stop();
}

bool CJaseloNetwork::ProcessPacketInQueue(ChatEvent& event) {
  // A message that yields nothing does not end the call while others wait:
  // poll loops drain until the first false, so a peer sending only such
  // messages would fill the queue faster than it empties and hold back every
  // line behind them. The count taken first bounds the call.
  for (uint32_t n = packetQueue.GetCount(); n > 0; --n) {
    if (ProcessOldestPacket(event)) return true;
  }
  return false;
}

bool CJaseloNetwork::ProcessOldestPacket(ChatEvent& event) {
  if (packetQueue.GetCount() == 0) return false;
  CMonitorGuard guard(*this);
  const std::unique_ptr<CQueuedPacket> packet = PopQueued();
  if (!packet) return false;
  CDecodePacket decoder;
  decoder.Initialize(*packet);
  uint16_t chatHeader = 0;
  if (!decoder.GetShortValue(chatHeader)) {
    Diag("CJaseloNetwork::ProcessPacketInQueue() - Decoder.GetShortValue() - Can't read header\n");
    return false;
  }
  switch (chatHeader) {
    case CHAT_SAYS: return ProcessSaysData(*packet, decoder, event);
    case CHAT_PRIVATE: return ProcessPrivateData(*packet, decoder, event);
    case CHAT_JOINED: return ProcessJoinedData(*packet, decoder, event);
    case CHAT_DISCONNECTED: return ProcessDisconnectedData(*packet, decoder, event);
    case CHAT_UNRELAYED: return ProcessUnrelayedData(*packet, decoder, event);
    default: Diag("CJaseloNetwork::ProcessPacketInQueue() - unrecognized header type %d.\n", chatHeader); return false;
  }
}

bool CJaseloNetwork::SpeaksForItself(const CQueuedPacket& packet, const std::string& statedName) const {
  return strcasecmp(packet.sourceName.c_str(), Terminated(statedName).c_str()) == 0;
}

void CJaseloNetwork::Relay(const CQueuedPacket& packet) {
  CPacket message;
  if (BuildRelay(packet, message)) SendMessageToAll(message, packet.sourceSerial);
}

bool CJaseloNetwork::ProcessSaysData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event) {
  ChatLine line;
  if (!ReadChatLine(decoder, line)) return false;
  if (IsServer() && !SpeaksForItself(packet, line.Name.get())) return false;
  FillLine(event, std::move(line), CHAT_SAYS);
  if (IsServer()) Relay(packet);
  return true;
}

bool CJaseloNetwork::ProcessPrivateData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event) {
  std::string addressee;
  ChatLine line;
  if (!ReadCountedString(decoder, addressee) || !ReadChatLine(decoder, line)) return false;
  const std::string to = Terminated(addressee);
  if (IsServer()) {
    if (!SpeaksForItself(packet, line.Name.get())) return false;
    for (const auto& [socket, name] : clientTable) {
      if (strcasecmp(name.c_str(), to.c_str()) != 0) continue;
      CPacket message;
      if (BuildRelay(packet, message)) SendPrivateMessage(message, socket, packet.sourceSerial);
      return true;
    }
    return false;
  }
  if (!IsClient() || strcasecmp(to.c_str(), nickname.get()) != 0) return false;
  FillLine(event, std::move(line), CHAT_PRIVATE);
  return true;
}

bool CJaseloNetwork::ProcessJoinedData(const CQueuedPacket&, CDecodePacket& decoder, ChatEvent& event) {
  std::string name;
  if (!ReadCountedString(decoder, name)) return false;
  FillName(event, name, CHAT_JOINED);
  return true;
}

bool CJaseloNetwork::ProcessDisconnectedData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event) {
  std::string name;
  if (!ReadCountedString(decoder, name)) return false;
  if (!IsServer()) {
    FillName(event, name, CHAT_DISCONNECTED);
    return true;
  }
  if (!SpeaksForItself(packet, name)) return false;
  CPacket message;
  const bool built = BuildRelay(packet, message);
  // Removed first, so the departing client gets no copy of its own departure;
  // if it is already gone, a newcomer under its name stays.
  if (IsSameConnection(packet.source, packet.sourceSerial)) RemoveClientByName(Terminated(name).c_str());
  if (built) SendMessageToAll(message);
  return true;
}

bool CJaseloNetwork::ProcessUnrelayedData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event) {
  ChatLine line;
  if (!ReadChatLine(decoder, line)) return false;
  if (IsServer() && !SpeaksForItself(packet, line.Name.get())) return false;
  FillLine(event, std::move(line), CHAT_UNRELAYED);
  return true;
}
