#pragma once
// One TCP connection, a server's or a client's: its socket, the byte stream
// its bytes travel through (plain or TLS), the chat's bytes received and not
// yet cut into messages, and what waits to leave.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "net/bytestream.h"
#include "net/connectionoutput.h"
#include "net/sockets.h"

class Connection {
 public:
  Connection() = default;
  Connection(Connection&&) = default;
  Connection& operator=(Connection&&) = default;
  virtual ~Connection() = default;

  Socket Get() const { return socket.Get(); }
  bool Encrypted() const { return stream != nullptr && stream->Encrypted(); }

  // Bytes from the socket, opened by the stream into `received`; what the
  // stream sends of its own is appended to `own`. False when the stream can
  // no longer be trusted.
  bool Take(const uint8_t* bytes, size_t n, std::vector<uint8_t>& own) { return stream->Open(bytes, n, received, own); }
  // Writes what waits, as far as the socket takes it (ConnectionOutput::Write).
  template <typename Left>
  bool Write(size_t limit, Left left) {
    return output.Write(socket.Get(), *stream, limit, left);
  }

  UniqueSocket socket;
  // Null while a server has yet to see which kind a newcomer speaks.
  std::unique_ptr<ByteStream> stream;
  std::vector<uint8_t> received;  // the chat's bytes not yet cut into messages
  ConnectionOutput output;
};
