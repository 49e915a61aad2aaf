#pragma once
// Uploads and fetches that run beside a window: each on a thread of its own,
// each cancelled at once on request, all of them cancelled and waited for
// when their owner goes, so that no thread outlives it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "share/fileclient.h"

class BackgroundTransfers {
 public:
  // What a transfer does with its client; false, with why, when it failed.
  using Job = std::function<bool(FileClient& client, std::string& error)>;
  // Called on the transfer's thread once it is over; `error` is "cancelled"
  // after a cancel.
  using Done = std::function<void(bool ok, const std::string& error)>;

  BackgroundTransfers() = default;
  ~BackgroundTransfers();
  BackgroundTransfers(const BackgroundTransfers&) = delete;
  BackgroundTransfers& operator=(const BackgroundTransfers&) = delete;

  // Starts `job` at once; its number, for Cancel. `progress` goes to its client.
  uint64_t Start(Job job, FileClient::Progress progress, Done done);
  // Ends the transfer `id` if it still runs; its Done still comes.
  void Cancel(uint64_t id);
  // Transfers not yet over.
  size_t Running();

 private:
  struct Transfer {
    uint64_t id = 0;
    FileClient client;
    std::atomic<bool> over{false};
    std::thread thread;
  };
  // Joins the threads of transfers that are over.
  void Reap();

  std::mutex mutex;
  std::list<Transfer> transfers;
  uint64_t lastId = 0;
};
