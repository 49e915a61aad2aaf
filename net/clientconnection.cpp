#include "net/clientconnection.h"

#include <algorithm>
#include <cerrno>

namespace {
void Nobody(uint64_t, size_t) {}
}  // namespace

void ClientConnection::Attach(Socket s, std::unique_ptr<ByteStream> stream) {
  std::lock_guard<std::mutex> guard(mutex);
  connection = Connection();
  connection.socket.Reset(s);
  connection.stream = stream ? std::move(stream) : std::make_unique<PlainStream>();
  ended = false;
}

Socket ClientConnection::Get() const {
  std::lock_guard<std::mutex> guard(mutex);
  return connection.Get();
}

bool ClientConnection::Encrypted() const {
  std::lock_guard<std::mutex> guard(mutex);
  return connection.Encrypted();
}

bool ClientConnection::Send(const uint8_t* bytes, size_t n, bool& leftWaiting) {
  std::lock_guard<std::mutex> guard(mutex);
  leftWaiting = false;
  if (ended || !connection.socket.Valid()) {
    errno = ENOTCONN;
    return false;
  }
  if (connection.output.Size() + n > OUTPUT_BOUND) {
    errno = ENOBUFS;
    return false;
  }
  const bool wasWaiting = connection.output.WantsRoom();
  connection.output.Append(bytes, n, 0, *connection.stream, false, OUTPUT_BOUND);
  if (!WriteLocked()) return false;
  leftWaiting = !wasWaiting && connection.output.WantsRoom();
  return true;
}

bool ClientConnection::WriteLocked() {
  if (connection.Write(OUTPUT_BOUND, Nobody)) return true;
  // A failed connection takes nothing more; the socket thread finds it
  // closed and stops the endpoint.
  EndLocked();
  return false;
}

void ClientConnection::EndLocked() {
  const int error = errno;
  ended = true;
  ShutdownSocket(connection.Get());
  errno = error;
}

bool ClientConnection::HasOutput() const {
  std::lock_guard<std::mutex> guard(mutex);
  return !connection.output.Empty();
}

bool ClientConnection::WriteWaiting() {
  std::lock_guard<std::mutex> guard(mutex);
  if (ended || !connection.stream) return false;
  return WriteLocked();
}

int ClientConnection::MillisecondsToStall(std::chrono::milliseconds limit) const {
  std::lock_guard<std::mutex> guard(mutex);
  if (connection.output.Empty()) return -1;
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(connection.output.StallsAt(limit) - Clock::now()).count();
  return static_cast<int>(std::max<int64_t>(0, left));
}

bool ClientConnection::Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened) {
  std::lock_guard<std::mutex> guard(mutex);
  if (ended || !connection.stream) return false;
  std::vector<uint8_t> own;
  if (!connection.stream->Open(bytes, n, opened, own)) return false;
  if (own.empty()) return true;
  connection.output.AppendOwn(own, false, OUTPUT_BOUND);
  return WriteLocked();
}

void ClientConnection::Shutdown() {
  std::lock_guard<std::mutex> guard(mutex);
  ended = true;
  ShutdownSocket(connection.Get());
}

void ClientConnection::Close() {
  std::lock_guard<std::mutex> guard(mutex);
  connection = Connection();
  ended = false;
}
