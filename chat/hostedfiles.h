#pragma once
// The files a host keeps for its chat: the store under its data folder and
// the door that moves them, joined to the host's endpoint so that requests
// for files reach the door, uploads are let in by the tickets the endpoint
// gives, and a file's details are passed on only for a file the store keeps.
// The window and the headless host set it up the same way.

#include <memory>
#include <string>

#include "chat/jaselonetwork.h"
#include "share/filedoor.h"
#include "share/filestore.h"

// Where the store lives under a host's data folder.
inline constexpr const char* SHARED_FILES_FOLDER = "shared";

class HostedFiles {
 public:
  ~HostedFiles() { Close(); }

  // Opens the store in `dataFolder` and joins it to `server`, which must not
  // be listening yet. False, with why, when the store cannot be opened: the
  // host then keeps no files.
  // `rules` give how long a transfer may stall; its ticket check is the
  // server's own.
  bool Open(const std::string& dataFolder, const ShareLimits& limits, CJaseloNetwork& server, std::string& error,
            FileDoorRules rules = {});
  // After the server has stopped: every transfer under way ends. Open may
  // follow again, for the next time the host serves.
  void Close();

 private:
  std::unique_ptr<FileStore> store;
  std::unique_ptr<FileDoor> door;
};
