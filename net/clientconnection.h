#pragma once
// A client endpoint's connection to its server, with the lock that lets any
// thread send on it. A send appends one whole message and hands the socket
// what it takes now, without waiting; the socket thread writes the rest as
// the socket takes it, and opens what the server sends through the same byte
// stream. A message leaves whole or the connection ends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "net/connection.h"

class ClientConnection {
 public:
  using Clock = std::chrono::steady_clock;
  // More than this waiting and a message is refused: a server that stopped
  // reading must not collect a user's lines that will never leave.
  static constexpr size_t OUTPUT_BOUND = 64 * 1024;

  // Takes a connected socket and the stream its bytes travel through (plain
  // when none is given); any earlier connection is closed and its output
  // dropped.
  void Attach(Socket s, std::unique_ptr<ByteStream> stream = nullptr);
  // The connected socket, or INVALID_SOCKET.
  Socket Get() const;
  bool Encrypted() const;

  // Appends one whole message and writes what the socket takes at once.
  // False, with nothing appended, when the connection has failed or ended,
  // or when more than OUTPUT_BOUND already waits. `leftWaiting` tells that
  // bytes now wait where none did: the socket thread must watch for room.
  bool Send(const uint8_t* bytes, size_t n, bool& leftWaiting);
  bool HasOutput() const;
  // The socket thread's write of what waits; false when the connection failed.
  bool WriteWaiting();
  // Milliseconds until bytes that wait have waited `limit` without the socket
  // taking any (0 once they have), or -1 when nothing waits.
  int MillisecondsToStall(std::chrono::milliseconds limit) const;
  // The socket thread's read: bytes from the socket, opened by the stream;
  // the chat's bytes they carry are appended to `opened`. False when the
  // stream can no longer be trusted or its own answer cannot leave.
  bool Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened);

  // Wakes whoever waits on the socket and refuses every later send, without
  // releasing the descriptor: its number stays reserved until Close.
  void Shutdown();
  void Close();

 private:
  bool WriteLocked();
  void EndLocked();

  mutable std::mutex mutex;
  Connection connection;
  bool ended = false;
};
