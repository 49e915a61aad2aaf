#pragma once
// A connection the chat's socket thread hands to the host's file door: a
// browser's or a participant's request for a shared file, with the socket,
// the stream its bytes travel in (plain or TLS, handshake done), the request
// and whatever came after its head.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "net/bytestream.h"
#include "net/sockets.h"
#include "web/httprequest.h"

struct FileExchange {
  UniqueSocket socket;
  std::unique_ptr<ByteStream> stream;
  HttpRequest request;
  std::vector<uint8_t> rest;
  uint32_t address = 0;  // the peer's IPv4 address, in host order
};

// Takes a connection; called on the socket thread under the endpoint lock,
// so it must not block.
using FileHandOff = std::function<void(FileExchange&&)>;
