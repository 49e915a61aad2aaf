// The outgoing chat messages a user's actions produce.
#include "chat/jaselonetwork.h"

bool CJaseloNetwork::SendChatMessage(const ChatEvent& line) {
  CPacket packet;
  return BuildSays(line, packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendPrivateChatMessage(const ChatEvent& line, const char* addressee) {
  CPacket packet;
  return BuildPrivate(addressee, line, packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendUnrelayedChatMessage(const ChatEvent& line) {
  CPacket packet;
  return BuildUnrelayed(line, packet) && SendToServer(packet);
}

bool CJaseloNetwork::SendDisconnectMessage(const char* name) {
  CPacket packet;
  if (!BuildDisconnected(name, packet)) return false;
  if (IsClient()) return SendToServer(packet);
  if (IsServer()) SendMessageToAll(packet);
  return true;
}

bool CJaseloNetwork::SendFileDetails(const SharedFile& file, const std::string& picture) {
  const std::vector<CPacket> parts = BuildPicture(file.id, picture);
  SharedFile details = file;
  details.flags = static_cast<uint16_t>((file.flags & ~FILE_PICTURE) | (parts.empty() ? 0 : FILE_PICTURE));
  CPacket packet;
  if (!IsClient() || !BuildFile(details, packet) || !SendToServer(packet)) return false;
  for (const CPacket& part : parts)
    if (!SendToServer(part)) return false;
  return true;
}
