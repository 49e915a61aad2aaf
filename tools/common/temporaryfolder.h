#pragma once
// A fresh folder under /tmp, removed with everything in it when the object goes.

#include <cstdlib>
#include <filesystem>
#include <string>

class TemporaryFolder {
 public:
  TemporaryFolder() {
    char pattern[] = "/tmp/jaselo-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path = pattern;
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;
  // Empty when none could be made.
  const std::string& Path() const { return path; }

 private:
  std::string path;
};
