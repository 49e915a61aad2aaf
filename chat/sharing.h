#pragma once
// A participant shares a file in two steps: the upload to the host's file
// door, which may take long and runs off the thread that chats, then one
// ordinary chat line that names the file and its address, which every peer
// reads, and the file's details for the peers that asked for them.

#include <cstdint>
#include <string>

#include "chat/chatevent.h"
#include "chat/jaselonetwork.h"
#include "net/security.h"
#include "share/fileclient.h"

// Where the joined host's file door is: the chat's own address and port,
// inside TLS when the join was, trusting the key the join met.
struct FileHost {
  std::string address;
  uint16_t port = 0;
  ConnectReport joined;
};

// A file the host now keeps, and its address.
struct UploadedFile {
  SharedFile file;
  std::string url;
  // A small picture of it, PNG or JPEG, sent with its details; may be empty.
  std::string picture;
};

// A PNG or a JPEG of at most PICTURE_LARGEST bytes is its own small view:
// its bytes; empty for any other file.
std::string OwnSmallPicture(const std::string& path);

// Uploads `path` through `files` with the host's `ticket`, for everyone or
// for `to` alone. False, with why, when the host did not keep it. A file
// that is its own small view goes with it.
bool UploadSharedFile(FileClient& files, const FileHost& host, const std::string& ticket, const std::string& path,
                      const std::string& from, const std::string& to, UploadedFile& out, std::string& error);

// Sends `line`, in the sharer's style, saying what was shared and where, then
// the details; false when either did not go.
bool AnnounceSharedFile(CJaseloNetwork& client, ChatEvent& line, const UploadedFile& shared);
