// The outgoing chat messages a user's actions produce.
#include "chat/jaselonetwork.h"

ChatLineView LineOf(const ChatEvent& event) {
  ChatLineView line;
  line.Name = event.Name.get();
  line.NameLength = event.NameLength;
  line.Police = event.Police.get();
  line.PoliceLength = event.PoliceLength;
  line.Text = event.Text.get();
  line.TextLength = event.TextLength;
  line.Bold = event.Bold;
  line.Italic = event.Italic;
  line.Underline = event.Underline;
  line.Red = event.Red;
  line.Green = event.Green;
  line.Blue = event.Blue;
  return line;
}

bool CJaseloNetwork::SendChatMessage(const ChatEvent& line) {
  CPacket packet;
  return BuildSays(LineOf(line), packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendPrivateChatMessage(const ChatEvent& line, const char* addressee) {
  CPacket packet;
  return BuildPrivate(addressee, LineOf(line), packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendUnrelayedChatMessage(const ChatEvent& line) {
  CPacket packet;
  return BuildUnrelayed(LineOf(line), packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendDisconnectMessage(const char* name) {
  CPacket packet;
  if (!BuildDisconnected(name, packet)) return false;
  if (IsClient()) return SendToServer(packet);
  if (IsServer()) SendMessageToAll(packet);
  return true;
}
