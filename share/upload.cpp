#include "share/upload.h"

#include <unistd.h>

#include "trust/hex.h"
#include "trust/privatefiles.h"

Upload::Upload(FileStore& store, StoredFile file, std::string temporary, int fd)
    : store(store), file(std::move(file)), temporary(std::move(temporary)), fd(fd) {
  if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1) Drop();
}

Upload::~Upload() { Drop(); }

bool Upload::Write(const uint8_t* bytes, size_t n) {
  if (done || n > file.size - received) {
    Drop();
    return false;
  }
  if (EVP_DigestUpdate(hash.get(), bytes, n) != 1 ||
      !WriteWhole(fd, std::string_view(reinterpret_cast<const char*>(bytes), n))) {
    Drop();
    return false;
  }
  received += n;
  return true;
}

std::optional<StoredFile> Upload::Finish(ShareRefusal& refusal) {
  refusal = ShareRefusal::Failed;
  if (done || received != file.size) {
    Drop();
    return std::nullopt;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(hash.get(), digest, &length) != 1 || LowerHex(digest, length) != file.sha256) {
    refusal = ShareRefusal::BadChecksum;
    Drop();
    return std::nullopt;
  }
  // Whole on the disk before it is anybody's.
  if (fsync(fd) != 0 || close(fd) != 0) {
    fd = -1;
    Drop();
    return std::nullopt;
  }
  fd = -1;
  done = true;
  if (!store.Keep(file, temporary)) {
    unlink(temporary.c_str());
    return std::nullopt;
  }
  refusal = ShareRefusal::None;
  return store.Find(file.id);
}

void Upload::Drop() {
  if (done) return;
  done = true;
  if (fd >= 0) close(fd);
  fd = -1;
  unlink(temporary.c_str());
  store.Release(file.size);
}
