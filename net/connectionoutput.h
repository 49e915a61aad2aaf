#pragma once
// What waits to leave on one connection, and where it stands: the one place
// that says when a connection's output is written and when the connection
// has to go.
//
// Messages are appended as the chat's bytes. A write seals all of them at
// once through the connection's byte stream (as they are, or into TLS
// records) and hands the socket what it takes.
//
//   state    holds                                  left by
//   Idle     nothing                                an append: Pending inside a batch, else written at once
//   Pending  messages appended in a batch           the batch's end: written
//   Blocked  bytes the socket had no room for       room on the socket: written
//   Failed   whatever it held; nothing more         never: the owner drops the connection at the end of
//            is appended or written                 the pass, or at once when no pass is running
//
// A write leaves Idle (all taken), Blocked (some left) or Failed (the socket
// failed, or more waits than `limit`, which no reader that keeps up reaches).
// Failed is also where a reader goes that took nothing for the send limit.
// A client's connection never holds a batch, so it knows no Pending.

#include <cassert>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/bytestream.h"
#include "net/outputbuffer.h"
#include "net/sockets.h"

class ConnectionOutput {
 public:
  using Clock = std::chrono::steady_clock;
  enum class State { Idle, Pending, Blocked, Failed };
  // What the owner does after an append.
  enum class Next {
    Nothing,      // it waits where it is (Pending already listed, Blocked, or Failed)
    ListPending,  // it just became Pending: list it for the batch's end
    Write,        // no batch holds it: write it now
  };

  State GetState() const { return state; }
  // Bytes that wait: staged messages and sealed bytes.
  size_t Size() const { return staged.size() + sealed.Size(); }
  bool Empty() const { return Size() == 0; }

  // One whole message of the chat's bytes, relayed on behalf of `origin`,
  // for a connection whose bytes travel through `stream`.
  Next Append(const uint8_t* bytes, size_t n, uint64_t origin, ByteStream& stream, bool inBatch, size_t limit);
  // Bytes the stream must send of its own (a handshake's), already sealed.
  Next AppendOwn(const std::vector<uint8_t>& bytes, bool inBatch, size_t limit);

  // Seals the staged messages through `stream` and hands the socket what it
  // takes; `left(origin, n)` hears of each message that has left whole.
  // False, in Failed, when the socket failed or more than `limit` waits
  // (errno ENOBUFS).
  template <typename Left>
  bool Write(Socket s, ByteStream& stream, size_t limit, Left left);

  void Fail() { state = State::Failed; }
  // Bytes have waited `limit` without the socket taking any.
  bool Stalled(Clock::time_point now, std::chrono::milliseconds limit) const {
    return state != State::Failed && !Empty() && now - lastProgress >= limit;
  }
  Clock::time_point StallsAt(std::chrono::milliseconds limit) const { return lastProgress + limit; }
  // The socket thread waits for room only where a write left bytes behind.
  bool WantsRoom() const { return state == State::Blocked; }

  // Every message not yet wholly gone, for a connection being dropped.
  template <typename Held>
  void ForEachHeld(Held held) const {
    for (const OutputBuffer::Mark& m : stagedMarks) held(m.origin, m.length);
    sealed.ForEachHeld(held);
  }

 private:
  Next Decide(bool wasEmpty, bool inBatch, size_t limit);
  bool Seal(ByteStream& stream);
  void CheckInvariants() const {
    assert(state != State::Idle || Empty());
    assert(state != State::Blocked || !Empty());
    assert(stagedEnds.size() == stagedMarks.size());
  }

  State state = State::Idle;
  // Messages appended and not yet sealed, back to back, with where each ends.
  std::vector<uint8_t> staged;
  std::vector<size_t> stagedEnds;
  std::vector<OutputBuffer::Mark> stagedMarks;
  OutputBuffer sealed;
  // When bytes began to wait, or when the socket last took some.
  Clock::time_point lastProgress{};
};

template <typename Left>
bool ConnectionOutput::Write(Socket s, ByteStream& stream, size_t limit, Left left) {
  assert(state != State::Failed);
  if (!Seal(stream)) {
    state = State::Failed;
    return false;
  }
  const long taken = sealed.Write(s, left);
  if (taken < 0) {
    state = State::Failed;
    return false;
  }
  if (taken > 0) lastProgress = Clock::now();
  if (Size() > limit) {
    errno = ENOBUFS;
    state = State::Failed;
    return false;
  }
  state = Empty() ? State::Idle : State::Blocked;
  CheckInvariants();
  return true;
}
