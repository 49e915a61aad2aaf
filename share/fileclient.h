#pragma once
// A participant's side of the host's file door: an upload of a file to share,
// or a kept file fetched into a local one, resuming a partial one. Over https
// the host's key must be the one the caller trusts, as a join's must. Blocking,
// with a time limit on every wait: it runs on a thread of its own or in a
// command-line tool.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "net/bytestream.h"
#include "net/sockets.h"
#include "net/tlscontext.h"
#include "trust/keydigest.h"

struct FileUrl {
  bool tls = false;
  std::string address;
  uint16_t port = 0;
  std::string path;  // from its "/" on
};

// "http(s)://ADDRESS:PORT/PATH"; false for anything else.
bool ReadFileUrl(std::string_view url, FileUrl& out);
std::string FileUrlText(const FileUrl& url);

// The SHA-256 of a local file, in hex; empty when it cannot be read, or
// once `stop` is set.
std::string FileSha256(const std::string& path, const std::atomic<bool>* stop = nullptr);

class FileClient {
 public:
  using Trust = std::function<bool(const KeyDigest&)>;
  // Bytes moved of the whole, called on the thread that moves them.
  using Progress = std::function<void(uint64_t done, uint64_t total)>;

  explicit FileClient(std::chrono::milliseconds wait = std::chrono::seconds(15)) : wait(wait) {}

  // Connects to the url's host; over https through `tls`, and the host's key
  // must satisfy `trust`.
  bool Connect(const FileUrl& url, const std::shared_ptr<TlsContext>& tls, const Trust& trust, std::string& error);
  // Uploads `path` under `name`: the host's id for it, or false with why.
  bool Upload(const std::string& path, const std::string& name, const std::string& ticket, std::string& sha256,
              std::string& id, std::string& error);
  // Fetches the url's file into `out`, resuming from what `out` already
  // holds; checks the whole against the SHA-256 the host gives and deletes
  // it on a mismatch. `sha256` is that digest.
  bool Fetch(const FileUrl& url, const std::string& out, std::string& sha256, std::string& error);

  void SetProgress(Progress call) { progress = std::move(call); }
  // From any thread: what is under way stops at its next wait or chunk and
  // fails with "cancelled"; nothing more is tried.
  void Cancel();
  bool Cancelled() const { return cancelled.load(); }

 private:
  struct Answer {
    unsigned status = 0;
    std::string reason;
    uint64_t length = 0;
    std::string etag;
    std::string contentRange;
    std::string body;  // a short text answer's body
  };
  bool Connecting(const FileUrl& url, const std::shared_ptr<TlsContext>& tls, const Trust& trust, std::string& error);
  bool Uploading(const std::string& path, const std::string& name, const std::string& ticket, std::string& sha256,
                 std::string& id, std::string& error);
  bool Fetching(const FileUrl& url, const std::string& out, std::string& sha256, std::string& error);
  // Plain bytes, sealed as the stream needs; bytes of the stream's own as they are.
  bool Send(std::string_view bytes, std::string& error);
  bool SendRaw(std::string_view bytes, std::string& error);
  // The next plain bytes from the host; false at its end or after the wait.
  bool Receive(std::vector<uint8_t>& plain, std::string& error);
  bool ReadAnswerHead(Answer& answer, std::string& error);
  bool ReadShortBody(Answer& answer, std::string& error);
  // `error` says "cancelled" in place of what a cancel caused.
  bool Failed(std::string& error) const;
  void Moved(uint64_t done, uint64_t total) const {
    if (progress) progress(done, total);
  }

  std::chrono::milliseconds wait;
  FileUrl host;
  UniqueSocket socket;
  std::unique_ptr<ByteStream> stream;
  std::vector<uint8_t> pending;  // plain bytes received and not yet used
  Progress progress;
  std::atomic<bool> cancelled{false};
  std::mutex socketMutex;  // the socket against a Cancel from another thread
};
