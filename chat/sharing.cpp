#include "chat/sharing.h"

#include <cstdio>

#include "protocol/messages.h"
#include "share/filerequest.h"
#include "share/filestore.h"
#include "share/sharedname.h"

std::string OwnSmallPicture(const std::string& path) {
  std::string bytes(PICTURE_LARGEST + 1, '\0');
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return {};
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  std::fclose(f);
  const std::string type = PictureType(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if ((type != "image/png" && type != "image/jpeg") || bytes.size() > PICTURE_LARGEST) return {};
  return bytes;
}

bool UploadSharedFile(FileClient& files, const FileHost& host, const std::string& ticket, const std::string& path,
                      const std::string& from, const std::string& to, UploadedFile& out, std::string& error) {
  const bool encrypted = host.joined.outcome == ConnectReport::Outcome::Encrypted;
  const KeyDigest key = host.joined.key;
  const std::shared_ptr<TlsContext> tls = encrypted ? TlsContext::ForClient(error) : nullptr;
  SharedFile& file = out.file;
  file.name = CleanSharedName(path.substr(path.find_last_of('/') + 1));
  if (!files.Connect(
          {encrypted, host.address, host.port, "/"}, tls, [&key](const KeyDigest& met) { return met == key; }, error) ||
      !files.Upload(path, file.name, ticket, file.sha256, file.id, error)) {
    return false;
  }
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t first[16] = {};
    file.type = PictureType(first, std::fread(first, 1, sizeof first, f));
    std::fseek(f, 0, SEEK_END);
    file.size = static_cast<uint64_t>(std::ftell(f));
    std::fclose(f);
  }
  out.picture = OwnSmallPicture(path);
  file.from = from;
  file.to = to;
  file.flags = to.empty() ? 0 : FILE_PRIVATE;
  out.url = FileUrlText({encrypted, host.address, host.port, SharedFilePath(file.id, file.name)});
  return true;
}

bool AnnounceSharedFile(CJaseloNetwork& client, ChatEvent& line, const UploadedFile& shared) {
  const SharedFile& file = shared.file;
  line.SetText("shared " + file.name + " (" + SizeText(file.size) + "): " + shared.url);
  CPacket probe;
  // A long name makes the line too long for one message: the address alone
  // still fetches the file.
  if (!BuildSays(line, probe)) line.SetText(shared.url.substr(0, shared.url.rfind('/') + 1));
  const bool said =
      file.to.empty() ? client.SendChatMessage(line) : client.SendPrivateChatMessage(line, file.to.c_str());
  return said && client.SendFileDetails(file, shared.picture);
}
