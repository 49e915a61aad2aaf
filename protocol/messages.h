#pragma once
// Builders and readers for every message that travels between a server and
// its clients. Builders return false when the message would not fit the
// packet capacity; the packet is then not meant to be sent.

#include <cstdint>
#include <string>

#include "protocol/decodepacket.h"
#include "protocol/encodepacket.h"
#include "protocol/headers.h"
#include "protocol/packet.h"

// The chat line common to CHAT_SAYS, CHAT_PRIVATE and CHAT_UNRELAYED, as a
// sender states it. Each length counts the string's NUL.
struct ChatLineView {
  const char* Name = nullptr;
  uint16_t NameLength = 0;
  const char* Police = nullptr;
  uint16_t PoliceLength = 0;
  const char* Text = nullptr;
  uint16_t TextLength = 0;
  uint16_t Bold = 0;
  uint16_t Italic = 0;
  uint16_t Underline = 0;
  uint16_t Red = 0;
  uint16_t Green = 0;
  uint16_t Blue = 0;
};

// The chat line as a receiver reads it: each string holds exactly the declared
// bytes, as they came (not yet made safe to print).
struct ChatLineFields {
  std::string Name;
  std::string Police;
  std::string Text;
  uint16_t Bold = 0;
  uint16_t Italic = 0;
  uint16_t Underline = 0;
  uint16_t Red = 0;
  uint16_t Green = 0;
  uint16_t Blue = 0;
};

// Client to server, the first message of a connection.
bool BuildClientWelcome(const char* nickname, uint16_t nicknameLength, CPacket& out);
// Server to clients when a newcomer is identified.
bool BuildArrivalNotice(const char* nickname, CPacket& out);
bool BuildSays(const ChatLineView& line, CPacket& out);
bool BuildPrivate(const char* addressee, const ChatLineView& line, CPacket& out);
bool BuildUnrelayed(const ChatLineView& line, CPacket& out);
bool BuildDisconnected(const char* name, CPacket& out);
// The server's relay: a queued payload with its transport header put back.
bool BuildRelay(const CPacket& payload, CPacket& out);

// Readers take a decoder positioned at the field they read.
// A 16-bit length and that many bytes.
bool ReadCountedString(CDecodePacket& decoder, std::string& out);
bool ReadChatLine(CDecodePacket& decoder, ChatLineFields& out);
