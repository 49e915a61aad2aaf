#pragma once
// Builders and readers for every message that travels between a server and
// its clients. Builders return false when the message would not fit the
// packet capacity; the packet is then not meant to be sent.

#include <cstdint>
#include <string>

#include "protocol/chatline.h"
#include "protocol/decodepacket.h"
#include "protocol/encodepacket.h"
#include "protocol/headers.h"
#include "protocol/packet.h"

// Client to server, the first message of a connection.
bool BuildClientWelcome(const char* nickname, uint16_t nicknameLength, CPacket& out);
// Server to clients when a newcomer is identified.
bool BuildArrivalNotice(const char* nickname, CPacket& out);
bool BuildSays(const ChatLine& line, CPacket& out);
bool BuildPrivate(const char* addressee, const ChatLine& line, CPacket& out);
bool BuildUnrelayed(const ChatLine& line, CPacket& out);
bool BuildDisconnected(const char* name, CPacket& out);
// The server's relay: a queued payload with its transport header put back.
bool BuildRelay(const CPacket& payload, CPacket& out);

// A 16-bit length and the string's bytes with their NUL; false when it cannot fit.
bool AddCountedString(CEncodePacket& e, const std::string& text);

// Readers take a decoder positioned at the field they read.
// A 16-bit length and that many bytes.
bool ReadCountedString(CDecodePacket& decoder, std::string& out);
// Fills `out` only when the whole line is there; each string then holds
// exactly the declared bytes, as they came (not yet made safe to print).
bool ReadChatLine(CDecodePacket& decoder, ChatLine& out);
