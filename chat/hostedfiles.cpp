#include "chat/hostedfiles.h"

bool HostedFiles::Open(const std::string& dataFolder, const ShareLimits& limits, CJaseloNetwork& server,
                       std::string& error, FileDoorRules rules) {
  Close();
  // Nothing of an earlier store stays joined to the server if this one fails.
  server.SetFileHandOff(nullptr);
  server.SetFileLookup(nullptr);
  store = std::make_unique<FileStore>();
  if (!store->Open(dataFolder + "/" + SHARED_FILES_FOLDER, limits, error)) return false;
  rules.holdsTicket = [&server](const std::string& ticket, uint32_t address) {
    return server.HoldsTicket(ticket, address);
  };
  door = std::make_unique<FileDoor>(*store, std::move(rules));
  if (!door->Start()) {
    error = "no thread for moving files";
    door.reset();
    return false;
  }
  server.SetFileHandOff(door->HandOff());
  server.SetFileLookup([this](SharedFile& file) {
    const std::optional<StoredFile> kept = store->Find(file.id);
    if (!kept) return false;
    file.name = kept->name;
    file.size = kept->size;
    file.sha256 = kept->sha256;
    return true;
  });
  return true;
}

void HostedFiles::Close() {
  if (door) door->Stop();
  door.reset();
  store.reset();
}
