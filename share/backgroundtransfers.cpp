#include "share/backgroundtransfers.h"

BackgroundTransfers::~BackgroundTransfers() {
  std::list<Transfer> all;
  {
    const std::lock_guard lock(mutex);
    for (Transfer& t : transfers) t.client.Cancel();
    all.splice(all.end(), transfers);
  }
  for (Transfer& t : all) t.thread.join();
}

uint64_t BackgroundTransfers::Start(Job job, FileClient::Progress progress, Done done) {
  Reap();
  const std::lock_guard lock(mutex);
  Transfer& t = transfers.emplace_back();
  t.id = ++lastId;
  t.client.SetProgress(std::move(progress));
  t.thread = std::thread([&t, job = std::move(job), done = std::move(done)] {
    std::string error;
    const bool ok = job(t.client, error);
    if (!ok && t.client.Cancelled()) error = "cancelled";
    // Over before its news goes: whoever hears it sees it no longer running.
    // The thread touches nothing of `t` after this, and is joined before `t` goes.
    t.over = true;
    if (done) done(ok, error);
  });
  return t.id;
}

void BackgroundTransfers::Cancel(uint64_t id) {
  const std::lock_guard lock(mutex);
  for (Transfer& t : transfers)
    if (t.id == id) t.client.Cancel();
}

size_t BackgroundTransfers::Running() {
  const std::lock_guard lock(mutex);
  size_t n = 0;
  for (const Transfer& t : transfers) n += t.over.load() ? 0 : 1;
  return n;
}

void BackgroundTransfers::Reap() {
  std::list<Transfer> ended;
  {
    const std::lock_guard lock(mutex);
    for (auto it = transfers.begin(); it != transfers.end();) {
      const auto next = std::next(it);
      if (it->over.load()) ended.splice(ended.end(), transfers, it);
      it = next;
    }
  }
  for (Transfer& t : ended) t.thread.join();
}
