// Starting and stopping the endpoint in one role, and the dispatch of
// received chat messages.
#include "chat/jaselonetwork.h"

#include <strings.h>

#include <optional>

#include "protocol/diagnostics.h"
#include "protocol/extension.h"

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

void CJaseloNetwork::SetHistoryLines(size_t lines) {
  CMonitorGuard guard(*this);
  history.SetLimit(std::min(lines, HISTORY_LINES));
}

bool CJaseloNetwork::ProcessPacketInQueue(ChatEvent& event) {
  if (TakePending(event)) return true;
  // A message that yields nothing does not end the call while others wait:
  // poll loops drain until the first false, so a peer sending only such
  // messages would fill the queue faster than it empties and hold back every
  // line behind them. The count taken first bounds the call.
  for (uint32_t n = packetQueue.GetCount(); n > 0; --n) {
    if (ProcessOldestPacket(event)) return true;
  }
  return false;
}

void CJaseloNetwork::HandleQueued() {
  // A server's events are shown nowhere: handling them is what relays.
  ChatEvent event;
  while (ProcessPacketInQueue(event)) {
  }
}

bool CJaseloNetwork::ProcessOldestPacket(ChatEvent& event) {
  if (packetQueue.GetCount() == 0) return false;
  CMonitorGuard guard(*this);
  const std::unique_ptr<CQueuedPacket> packet = PopQueued();
  if (!packet) return false;
  if (packet->transport == HEADER_RESERVED) return ProcessExtensionData(*packet, event);
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
  if (IsServer()) {
    Relay(packet);
    KeepLine(packet, decoder.cursor);
  }
  return true;
}

void CJaseloNetwork::KeepLine(const CQueuedPacket& packet, uint16_t chatLineEnd) {
  // The payload is the chat header, then the line; bytes a sender put behind
  // the line are relayed but not kept.
  const uint16_t n = static_cast<uint16_t>(chatLineEnd - 2);
  if (n > EARLIER_LINE_CAPACITY) return;
  history.Keep(packet.data + 2, n, Clients().Generation(), UtcSecondsNow(), CLineHistory::Clock::now());
}

void CJaseloNetwork::AnswerHello(Socket s, uint16_t understands) {
  const Participant* asker = Clients().Find(s);
  if (asker == nullptr) return;
  const uint64_t joined = asker->generation;
  // A failed send forgets the asker; what is sent after that goes nowhere.
  if ((understands & UNDERSTANDS_PEOPLE) != 0) {
    for (const CPacket& block : BuildPeople(Clients().People())) SendPrivateMessage(block, s);
  }
  if ((understands & UNDERSTANDS_FILES) != 0) {
    const std::string ticket = GiveTicket(s);
    CPacket block;
    if (!ticket.empty() && BuildTicket(ticket, block)) SendPrivateMessage(block, s);
  }
  if ((understands & UNDERSTANDS_EARLIER) == 0) return;
  const auto earlier = history.Before(joined, CLineHistory::Clock::now());
  for (size_t i = 0; i < earlier.size(); ++i) {
    const CLineHistory::Line& line = *earlier[i];
    const auto left = static_cast<uint16_t>(earlier.size() - 1 - i);
    CPacket block;
    if (BuildEarlier(line.at, left, line.chatLine.data(), static_cast<uint16_t>(line.chatLine.size()), block)) {
      SendPrivateMessage(block, s);
    }
  }
}

std::vector<Socket> CJaseloNetwork::FileReaders(Socket sharer, const SharedFile& file) {
  std::vector<Socket> readers;
  Clients().ForEach([&](Socket reader, const Participant& p) {
    if (reader == sharer || p.ticket.empty()) return;
    if ((file.flags & FILE_PRIVATE) == 0 || strcasecmp(p.name.c_str(), file.to.c_str()) == 0) readers.push_back(reader);
  });
  return readers;
}

void CJaseloNetwork::ShareFile(const CQueuedPacket& packet, CDecodePacket& fields) {
  SharedFile file;
  const Socket s = packet.source;
  if (!IsSameConnection(s, packet.sourceSerial) || !fileLookup || !ReadFile(fields, file) || !fileLookup(file)) return;
  // Who shares is the connection's own nickname, whatever the block says.
  file.from = std::string(packet.sourceName.c_str());
  file.flags &= FILE_PRIVATE | FILE_PICTURE;
  if ((file.flags & FILE_PRIVATE) == 0) file.to.clear();
  CPacket block;
  if (!BuildFile(file, block)) return;
  for (const Socket reader : FileReaders(s, file)) SendPrivateMessage(block, reader);
  // Its picture's parts, if it has one, go where it went.
  lastShared[s] = {packet.sourceSerial, file, 0};
}

void CJaseloNetwork::SharePicture(const CQueuedPacket& packet, CDecodePacket& fields) {
  PicturePart part;
  const Socket s = packet.source;
  const auto shared = lastShared.find(s);
  if (shared == lastShared.end() || !IsSameConnection(s, packet.sourceSerial) ||
      shared->second.serial != packet.sourceSerial || !ReadPicturePart(fields, part)) {
    return;
  }
  LastShared& last = shared->second;
  // Only for the file this connection shared last, said to have a picture,
  // and no more parts than a picture has.
  if ((last.file.flags & FILE_PICTURE) == 0 || part.id != last.file.id || last.parts >= PICTURE_MOST_PARTS) return;
  ++last.parts;
  CPacket block;
  block.SetData(packet.data, packet.length);
  for (const Socket reader : FileReaders(s, last.file)) SendPrivateMessage(block, reader);
}

bool CJaseloNetwork::ProcessExtensionData(const CQueuedPacket& packet, ChatEvent& event) {
  ExtensionBlock block;
  if (!OpenExtension(packet.data, packet.length, block)) return false;
  if (IsServer()) {
    if (block.kind == EXT_FILE) ShareFile(packet, block.fields);
    if (block.kind == EXT_PICTURE) SharePicture(packet, block.fields);
    return false;
  }
  if (!IsClient()) return false;
  if (block.kind == EXT_PEOPLE) {
    PeopleBlock people;
    if (!ReadPeople(block.fields, people)) return false;
    ListPeople(std::move(people));
    return TakePending(event);
  }
  if (block.kind == EXT_EARLIER) {
    EarlierLine earlier;
    if (!ReadEarlier(block.fields, earlier)) return false;
    FillLine(event, std::move(earlier.line), EVENT_EARLIER);
    event.Time = earlier.at;
    event.Count = earlier.left;
    return true;
  }
  if (block.kind == EXT_TICKET) {
    std::string ticket;
    if (!ReadTicket(block.fields, ticket)) return false;
    event = ChatEvent();
    event.Type = EVENT_TICKET;
    event.SetText(ticket);
    return true;
  }
  if (block.kind == EXT_FILE) {
    event = ChatEvent();
    if (!ReadFile(block.fields, event.File)) return false;
    event.Type = EVENT_FILE;
    return true;
  }
  if (block.kind == EXT_PICTURE) {
    PicturePart part;
    if (!ReadPicturePart(block.fields, part)) return false;
    event = ChatEvent();
    event.Type = EVENT_PICTURE;
    event.File.id = std::move(part.id);
    event.Count = part.part;
    event.Flags = part.parts;
    event.Data = std::move(part.bytes);
    return true;
  }
  return false;  // a kind this side does not know
}

bool CJaseloNetwork::TakePending(ChatEvent& event) {
  if (pending.empty()) return false;
  event = std::move(pending.front());
  pending.pop_front();
  return true;
}

void CJaseloNetwork::ListPeople(PeopleBlock&& block) {
  // A list always names the one who asked: an empty one is no list, and
  // leaves alone a list being received.
  if ((block.flags & PEOPLE_FIRST) != 0 && block.people.empty()) return;
  if ((block.flags & PEOPLE_FIRST) != 0) listed = 0;
  // Without its first block a list is nothing to go by.
  if (!listed) return;
  for (const Person& person : block.people) {
    if (*listed >= MAX_LISTED_PEOPLE) break;
    ChatEvent e;
    FillName(e, person.name + '\0', EVENT_PRESENT);
    e.Time = person.since;
    e.Flags = person.flags;
    e.Count = (*listed)++;
    pending.push_back(std::move(e));
  }
  if ((block.flags & PEOPLE_LAST) == 0) return;
  ChatEvent whole;
  whole.Type = EVENT_PEOPLE;
  whole.Count = *listed;
  pending.push_back(std::move(whole));
  listed.reset();
}

bool CJaseloNetwork::ProcessPrivateData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event) {
  std::string addressee;
  ChatLine line;
  if (!ReadCountedString(decoder, addressee) || !ReadChatLine(decoder, line)) return false;
  const std::string to = Terminated(addressee);
  if (IsServer()) {
    if (!SpeaksForItself(packet, line.Name.get())) return false;
    const Socket addressee = Clients().FindByName(to.c_str());
    if (addressee == INVALID_SOCKET) return false;
    CPacket message;
    if (BuildRelay(packet, message)) SendPrivateMessage(message, addressee, packet.sourceSerial);
    return true;
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
