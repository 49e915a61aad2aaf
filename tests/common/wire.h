#pragma once
// Whole messages for the tests to send or to expect, made with the project's
// own builders. Chat lines made from a name and a text are in Arial with the
// default style.

#include <string>

#include "common/raw_peer.h"
#include "protocol/messages.h"

CPacket Welcome(const std::string& name);
CPacket Arrival(const std::string& name);
CPacket Departure(const std::string& name);
CPacket Says(const ChatLine& line);
CPacket Says(const std::string& name, const std::string& text);
CPacket Private(const std::string& to, const std::string& name, const std::string& text);
CPacket Unrelayed(const std::string& name, const std::string& text);

// The message as it goes on the wire.
Bytes Whole(const CPacket& p);
std::string WireText(const CPacket& p);
// What a receiving endpoint queues of it: everything after the transport header.
Bytes Payload(const CPacket& p);
