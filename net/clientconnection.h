#pragma once
// A client endpoint's connection to its server: the socket and the whole
// messages waiting to leave on it. A send, from whichever thread, appends and
// hands the socket what it takes now, without waiting; the socket thread
// writes the rest as the socket takes it. A message leaves whole or the
// connection ends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "net/outputbuffer.h"
#include "net/sockets.h"

class ClientConnection {
 public:
  using Clock = std::chrono::steady_clock;
  // More than this waiting and a message is refused: a server that stopped
  // reading must not collect a user's lines that will never leave.
  static constexpr size_t OUTPUT_BOUND = 64 * 1024;

  // Takes a connected socket; any earlier one is closed and its output dropped.
  void Attach(Socket s);
  // The connected socket, or INVALID_SOCKET.
  Socket Get() const;

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

  // Wakes whoever waits on the socket and refuses every later send, without
  // releasing the descriptor: its number stays reserved until Close.
  void Shutdown();
  void Close();

 private:
  mutable std::mutex mutex;
  UniqueSocket socket;
  OutputBuffer output;
  Clock::time_point lastProgress;  // when bytes began to wait, or the socket last took some
  bool ended = false;
};
