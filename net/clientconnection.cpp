#include "net/clientconnection.h"

#include <algorithm>
#include <cerrno>

namespace {
void Nobody(uint64_t, size_t) {}
}  // namespace

void ClientConnection::Attach(Socket s) {
  std::lock_guard<std::mutex> guard(mutex);
  socket.Reset(s);
  output = OutputBuffer();
  ended = false;
}

Socket ClientConnection::Get() const {
  std::lock_guard<std::mutex> guard(mutex);
  return socket.Get();
}

bool ClientConnection::Send(const uint8_t* bytes, size_t n, bool& leftWaiting) {
  std::lock_guard<std::mutex> guard(mutex);
  leftWaiting = false;
  if (ended || !socket.Valid()) {
    errno = ENOTCONN;
    return false;
  }
  if (output.Size() + n > OUTPUT_BOUND) {
    errno = ENOBUFS;
    return false;
  }
  const bool wasEmpty = output.Empty();
  output.Append(bytes, n, 0);
  if (!wasEmpty) return true;  // the socket thread already waits for room
  lastProgress = Clock::now();
  if (output.Write(socket.Get(), Nobody) < 0) {
    // A failed connection takes nothing more; the socket thread finds it
    // closed and stops the endpoint.
    const int error = errno;
    ended = true;
    ShutdownSocket(socket.Get());
    errno = error;
    return false;
  }
  leftWaiting = !output.Empty();
  return true;
}

bool ClientConnection::HasOutput() const {
  std::lock_guard<std::mutex> guard(mutex);
  return !output.Empty();
}

bool ClientConnection::WriteWaiting() {
  std::lock_guard<std::mutex> guard(mutex);
  const long taken = output.Write(socket.Get(), Nobody);
  if (taken < 0) return false;
  if (taken > 0) lastProgress = Clock::now();
  return true;
}

int ClientConnection::MillisecondsToStall(std::chrono::milliseconds limit) const {
  std::lock_guard<std::mutex> guard(mutex);
  if (output.Empty()) return -1;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(lastProgress + limit - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(0, left));
}

void ClientConnection::Shutdown() {
  std::lock_guard<std::mutex> guard(mutex);
  ended = true;
  ShutdownSocket(socket.Get());
}

void ClientConnection::Close() {
  std::lock_guard<std::mutex> guard(mutex);
  socket.Reset();
  output = OutputBuffer();
  ended = false;
}
