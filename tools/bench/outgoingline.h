#pragma once
// A client's outgoing chat line, as the window fills it: its nickname, the
// face the window names, and the text of the moment.

#include <string>

#include "chat/jaselonetwork.h"
#include "protocol/messages.h"

class OutgoingLine {
 public:
  explicit OutgoingLine(const std::string& nick) {
    line.SetName(nick);
    line.SetPolice("Arial");
  }
  const ChatEvent& With(const std::string& text) {
    line.SetText(text);
    return line;
  }
  // The message's size on the wire with `text`; the relay is the same bytes.
  uint32_t Bytes(const std::string& text) {
    CPacket packet;
    return BuildSays(With(text), packet) ? packet.length : 0;
  }

 private:
  ChatEvent line;
};
