#pragma once
// The host's file door: the connections the chat's socket thread hands over
// for shared files, each moved on a thread of its own by readiness, so that
// a file of any size never holds up a line of the chat. A bounded number
// move at once, and one address may hold only its share of them; a
// connection beyond that is told to come back shortly.

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "net/fileexchange.h"
#include "net/sockets.h"
#include "share/filestore.h"
#include "share/transfer.h"

struct FileDoorLimits {
  size_t transfers = 16;
  size_t perAddress = 4;
};

class FileDoor {
 public:
  FileDoor(FileStore& store, FileDoorRules rules, FileDoorLimits limits = {});
  ~FileDoor();
  FileDoor(const FileDoor&) = delete;
  FileDoor& operator=(const FileDoor&) = delete;

  bool Start();
  // Ends every transfer under way (a cut upload leaves nothing kept) and
  // the thread.
  void Stop();
  // Takes a connection, from any thread, without waiting.
  void Take(FileExchange&& exchange);
  // What the chat's transport calls with each connection it hands over.
  FileHandOff HandOff() {
    return [this](FileExchange&& exchange) { Take(std::move(exchange)); };
  }

 private:
  void Run();
  void Admit(std::vector<FileExchange>& arrived, Transfer::Clock::time_point now);

  FileStore& store;
  const FileDoorRules rules;
  const FileDoorLimits limits;
  WakeEvent wake;
  std::mutex mutex;
  std::vector<FileExchange> arriving;  // under `mutex`
  std::atomic<bool> running{false};
  // On the door's thread alone.
  std::vector<std::unique_ptr<Transfer>> transfers;
  std::thread thread;
};
