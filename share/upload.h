#pragma once
// One shared file on its way in: its bytes go to a temporary file as they
// come, hashed as they go. Finish makes it a kept file only when exactly the
// announced bytes came and their SHA-256 is the one the sharer gave; an
// upload dropped before that leaves nothing behind.

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "share/filestore.h"

class Upload {
 public:
  Upload(FileStore& store, StoredFile file, std::string temporary, int fd);
  ~Upload();
  Upload(const Upload&) = delete;
  Upload& operator=(const Upload&) = delete;

  // False, with nothing kept, for bytes past the announced size or a
  // failed write.
  bool Write(const uint8_t* bytes, size_t n);
  uint64_t Received() const { return received; }
  // The kept file, or nothing (and `refusal` says why).
  std::optional<StoredFile> Finish(ShareRefusal& refusal);

 private:
  void Drop();

  FileStore& store;
  StoredFile file;
  std::string temporary;
  int fd;
  uint64_t received = 0;
  bool done = false;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash{EVP_MD_CTX_new(), &EVP_MD_CTX_free};
};
