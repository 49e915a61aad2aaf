// The settings-file reader on any file content. Beyond memory safety: texts
// stay terminated within their fields, and what was read, once written and
// read again, reads back the same after that (one pass normalises).
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "config/configfile.h"
#include "fuzz_support.h"

namespace fuzz {
namespace {

std::string scratchDir;

void RemoveScratch() {
  unlink((scratchDir + "/config.cfg").c_str());
  rmdir(scratchDir.c_str());
}

// One scratch directory per process, on a memory file system where there is one.
const std::string& ScratchFile() {
  static const std::string path = [] {
    const std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    scratchDir = base + "/jaselo-fuzz-config-" + std::to_string(getpid());
    mkdir(scratchDir.c_str(), 0700);
    std::atexit(RemoveScratch);
    return scratchDir + "/config.cfg";
  }();
  return path;
}

void WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(f != nullptr);
  FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size);
  std::fclose(f);
}

bool Same(const ChatSettings& x, const ChatSettings& y) {
  return x.Bold == y.Bold && x.Italic == y.Italic && x.Underline == y.Underline && x.Role == y.Role &&
         x.NeitherOrBothRoles == y.NeitherOrBothRoles && x.Port == y.Port &&
         std::memcmp(x.Ip, y.Ip, sizeof x.Ip) == 0 && x.Color == y.Color && std::strcmp(x.Police, y.Police) == 0 &&
         std::strcmp(x.Pseudo, y.Pseudo) == 0;
}

ChatSettings ReadBack(const std::string& path) {
  ChatSettings s;
  FUZZ_CHECK(ReadConfigFile(path, s));
  FUZZ_CHECK(strnlen(s.Pseudo, sizeof s.Pseudo) < sizeof s.Pseudo);
  FUZZ_CHECK(strnlen(s.Police, sizeof s.Police) < sizeof s.Police);
  FUZZ_CHECK(s.Color <= 0xFFFFFFu);
  return s;
}

}  // namespace

int ConfigTarget(const uint8_t* data, size_t size) {
  const std::string& path = ScratchFile();
  WriteBytes(path, data, size);
  const ChatSettings first = ReadBack(path);
  WriteConfigFile(path, first);
  const ChatSettings second = ReadBack(path);
  WriteConfigFile(path, second);
  const ChatSettings third = ReadBack(path);
  FUZZ_CHECK(Same(second, third));
  return 0;
}

}  // namespace fuzz

JASELO_FUZZ_ENTRY(fuzz::ConfigTarget)
