#pragma once
// The chat layer on a TCP endpoint: turns queued chat payloads into events
// for the window and, on the server, relays public lines, routes private
// ones and forgets departing clients. Also builds the outgoing chat lines.
// A server keeps the public lines it relayed and answers a HELLO with the
// list of those present and those lines; a client turns such answers into
// events of their own (EVENT_PRESENT, EVENT_PEOPLE, EVENT_EARLIER).

#include <cstdint>
#include <deque>
#include <functional>
#include <map>

#include "chat/chatevent.h"
#include "chat/linehistory.h"
#include "net/tcpip.h"
#include "protocol/decodepacket.h"
#include "protocol/messages.h"

class CJaseloNetwork : public CTCPIP {
 public:
  CJaseloNetwork() = default;
  // The socket thread must be gone before this object starts to unwind.
  ~CJaseloNetwork() override {
    Stop();
    Wait();
  }

  bool StartupServer();
  void ServerListen(uint16_t port);
  void StopServer();
  bool StartupClient(const char* nickname);
  bool ClientConnect(const char* address, uint16_t port);
  void StopClient();
  // Server role: how many public lines are kept for those who join later
  // (0: none; at most HISTORY_LINES).
  void SetHistoryLines(size_t lines);
  // Server role: fills in a shared file's name, size and SHA-256 from what
  // the host keeps under its id; false for an id it does not keep. Set
  // before listening; without it no file's details are passed on.
  void SetFileLookup(std::function<bool(SharedFile&)> lookup) { fileLookup = std::move(lookup); }

  // Handles queued messages, oldest first, until one yields an event (or, on
  // the server, is relayed, routed or acted on): then true. False when the
  // messages queued at the call yielded nothing.
  bool ProcessPacketInQueue(ChatEvent& event);

  // The senders return false, and send nothing, when the line does not fit
  // one message; otherwise false only when the send fails.
  bool SendChatMessage(const ChatEvent& line);
  bool SendPrivateChatMessage(const ChatEvent& line, const char* addressee);
  bool SendUnrelayedChatMessage(const ChatEvent& line);
  bool SendDisconnectMessage(const char* name);
  // Client role: the details of a file just shared, for those of the host's
  // participants who asked for files; sent behind its chat line. A small
  // picture of it (PNG or JPEG, at most PICTURE_LARGEST bytes), when given,
  // follows the details.
  bool SendFileDetails(const SharedFile& file, const std::string& picture = {});

 private:
  // One queued message: true when it yielded an event (or was acted on).
  bool ProcessOldestPacket(ChatEvent& event);
  // Client role: one of our own blocks from the server.
  bool ProcessExtensionData(const CQueuedPacket& packet, ChatEvent& event);
  // Client role: the people of one PEOPLE block, as events to hand out.
  void ListPeople(PeopleBlock&& block);
  // Client role: the oldest of those events, when one waits.
  bool TakePending(ChatEvent& event);
  // Server role: the list of those present, then the lines said before the
  // asker joined.
  void AnswerHello(Socket s, uint16_t understands) override;
  // Server role: a shared file's details, as the host keeps them, to those
  // who asked for files (to the one it is for, when private).
  void ShareFile(const CQueuedPacket& packet, CDecodePacket& fields);
  // Server role: a part of the picture of the file its sender shared last,
  // to those that file went to.
  void SharePicture(const CQueuedPacket& packet, CDecodePacket& fields);
  std::vector<Socket> FileReaders(Socket sharer, const SharedFile& file);
  // Server role: relays, routes and forgets on the socket thread, in the
  // wake-up that received the messages.
  void HandleQueued() override;
  // Server role: a relayed public line, for those who join later.
  void KeepLine(const CQueuedPacket& packet, uint16_t chatLineEnd);
  bool ProcessSaysData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event);
  bool ProcessPrivateData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event);
  bool ProcessJoinedData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event);
  bool ProcessDisconnectedData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event);
  bool ProcessUnrelayedData(const CQueuedPacket& packet, CDecodePacket& decoder, ChatEvent& event);

  // On the server, a line is handled only under the nickname of the
  // connection it came from: nobody speaks, or leaves, as somebody else.
  bool SpeaksForItself(const CQueuedPacket& packet, const std::string& statedName) const;
  void Relay(const CQueuedPacket& packet);

  // Server role, under the endpoint lock.
  CLineHistory history;
  std::function<bool(SharedFile&)> fileLookup;
  // The file each connection shared last, and the parts of its picture passed on.
  struct LastShared {
    uint64_t serial = 0;
    SharedFile file;
    uint16_t parts = 0;
  };
  std::map<Socket, LastShared> lastShared;
  // Client role, on the thread that drains the queue: events of a people
  // list not yet handed out, and the place of the next person in the list
  // being received (none open: its first block has not come).
  std::deque<ChatEvent> pending;
  std::optional<uint16_t> listed;
};
