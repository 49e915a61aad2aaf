#pragma once
// The files participants share, kept by the host under its data folder: each
// under a generated name (never the sharer's), with a small description
// beside it, for a bounded time and within bounded room. An upload is written
// to a temporary file and becomes visible only once whole and checked; what a
// cut upload leaves in the temporary folder is cleared when the store opens.

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct ShareLimits {
  uint64_t largestFile = uint64_t{2} << 30;
  uint64_t totalKept = uint64_t{4} << 30;
  // Never fills the disk past this share of its size.
  double diskShare = 0.9;
  std::chrono::seconds keptFor = std::chrono::hours(24);
};

struct StoredFile {
  // 32 hex digits from 128 random bits: whoever holds it may fetch the file.
  std::string id;
  std::string name;  // cleaned
  uint64_t size = 0;
  std::string sha256;     // 64 lower-case hex digits
  int64_t keptUntil = 0;  // UTC seconds
};

// A size as people read it: "2 GiB", "1.5 MiB", "100 bytes".
std::string SizeText(uint64_t bytes);

// Why an upload is not taken.
enum class ShareRefusal { None, TooLarge, QuotaFull, DiskFull, BadChecksum, Failed };

// The refusal in the words the sharer is told, such as "the file is larger
// than the 2 GiB this chat takes".
std::string RefusalText(ShareRefusal refusal, const ShareLimits& limits);

class Upload;

class FileStore {
 public:
  using Clock = std::chrono::system_clock;

  // Opens the store in `folder` (made, for its owner alone, when missing):
  // reads what is kept, forgets what has expired, clears cut uploads.
  bool Open(const std::string& folder, const ShareLimits& limits, std::string& error);
  // A new upload of `size` bytes whose SHA-256 the sharer gave, or null
  // with why not: no room is taken before every limit is looked at.
  std::unique_ptr<Upload> Begin(const std::string& name, uint64_t size, const std::string& sha256,
                                ShareRefusal& refusal);
  // A kept file, or nothing once unknown or expired.
  std::optional<StoredFile> Find(const std::string& id);
  // Where a kept file's bytes are.
  std::string PathOf(const std::string& id) const { return folder + "/" + id; }
  // Deletes every file whose time has passed.
  void Expire();
  uint64_t Kept();
  const ShareLimits& Limits() const { return limits; }

 private:
  friend class Upload;
  bool Keep(StoredFile file, const std::string& temporary);
  void Release(uint64_t bytes);
  void Forget(const std::string& id);
  // Forgets a kept file and its room; the next entry.
  std::map<std::string, StoredFile>::iterator Discard(std::map<std::string, StoredFile>::iterator it);
  bool DiskHasRoom(uint64_t size) const;

  std::mutex mutex;
  std::string folder;
  std::string incoming;
  ShareLimits limits;
  std::map<std::string, StoredFile> files;
  uint64_t kept = 0;
  uint64_t reserved = 0;  // promised to uploads under way
};
