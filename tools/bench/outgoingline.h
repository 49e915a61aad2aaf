#pragma once
// A client's outgoing chat line, as the window fills it: its nickname, the
// face the window names, and the text of the moment.

#include <string>

#include "chat/jaselonetwork.h"
#include "protocol/messages.h"

class OutgoingLine {
 public:
  explicit OutgoingLine(const std::string& nick) {
    line.NameLength = static_cast<uint16_t>(nick.size() + 1);
    line.Name.Assign(nick.c_str(), nick.size() + 1);
    static const char face[] = "Arial";
    line.PoliceLength = sizeof face;
    line.Police.Assign(face, sizeof face);
  }
  const ChatEvent& With(const std::string& text) {
    line.TextLength = static_cast<uint16_t>(text.size() + 1);
    line.Text.Assign(text.c_str(), text.size() + 1);
    return line;
  }
  // The message's size on the wire with `text`; the relay is the same bytes.
  uint32_t Bytes(const std::string& text) {
    CPacket packet;
    return BuildSays(LineOf(With(text)), packet) ? packet.length : 0;
  }

 private:
  ChatEvent line;
};
