#pragma once
// One request at the host's file door, on a connection of its own: an
// upload taken into the store as its bytes come, or a kept file sent as
// fast as the peer takes it. Never more than a bounded stretch of the file is
// read ahead of the socket, so that a download of any size holds a few
// hundred KiB. Each connection carries one request: the answer closes it.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net/fileexchange.h"
#include "share/filestore.h"

// What every transfer goes by.
struct FileDoorRules {
  // Whether `ticket` is the upload ticket of a participant connected from
  // `address`.
  std::function<bool(const std::string& ticket, uint32_t address)> holdsTicket;
  // A transfer that moves fewer than `leastProgress` bytes in `idle` is
  // dropped, as a newcomer that says nothing is.
  std::chrono::milliseconds idle{10000};
  uint64_t leastProgress = 16 * 1024;
};

class Transfer {
 public:
  using Clock = std::chrono::steady_clock;

  Transfer(FileExchange exchange, FileStore& store, const FileDoorRules& rules, Clock::time_point now);
  // A connection turned away before its request is looked at: `status` and
  // a line that says why, then the close.
  Transfer(FileExchange exchange, std::string_view status, std::string_view why, std::string_view extraHeaders);
  ~Transfer();
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  Socket Get() const { return socket.Get(); }
  uint32_t Address() const { return address; }
  // What to wait for on the socket.
  short Events() const;
  // Reads and writes what the socket allows. False once the transfer is
  // over: its connection is to close.
  bool Serve(short revents, Clock::time_point now);
  Clock::time_point Deadline() const { return deadline; }

 private:
  enum class Stage { Receiving, Sending, Done };
  void Start(const HttpRequest& request);
  void StartUpload(const HttpRequest& request, const std::string& name, const std::string& ticket,
                   const std::string& sha256);
  void StartFetch(const HttpRequest& request, const std::string& id, bool head);
  // An answer with a short text body; the connection closes after it.
  void Answer(std::string_view status, std::string_view text, std::string_view extraHeaders = {});
  bool Receive(Clock::time_point now);
  bool TakeBody(const uint8_t* bytes, size_t n);
  void FinishUpload();
  bool Send(Clock::time_point now);
  // More of the file, sealed, while little waits.
  bool ReadAhead();
  bool Seal(const uint8_t* bytes, size_t n);
  void Progress(uint64_t bytes, Clock::time_point now);

  UniqueSocket socket;
  std::unique_ptr<ByteStream> stream;
  uint32_t address = 0;
  FileStore* store = nullptr;
  const FileDoorRules* rules = nullptr;
  Stage stage = Stage::Done;
  std::unique_ptr<Upload> upload;
  uint64_t bodyLeft = 0;
  int file = -1;          // the kept file being sent
  uint64_t fileNext = 0;  // its next byte to read
  uint64_t fileLeft = 0;  // bytes still to read
  std::vector<uint8_t> out;
  size_t outStart = 0;
  std::vector<uint8_t> opened;
  std::vector<uint8_t> chunk;  // plain bytes on their way to be sealed
  Clock::time_point deadline;
  uint64_t sinceProgress = 0;
  uint64_t lingered = 0;  // bytes of a refused body read and let go
};
