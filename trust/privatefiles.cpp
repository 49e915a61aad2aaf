#include "trust/privatefiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
std::string Why(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// A name beside `path` that no other writer uses at the same moment.
std::string TemporaryName(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  return path + ".new-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
}
}  // namespace

bool WriteWhole(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

std::string UserBaseFolder(const char* variable, const char* underHome) {
  // Relative values are to be ignored, as the base directory rules say.
  const char* base = std::getenv(variable);
  if (base && base[0] == '/') return std::string(base) + "/jaselo";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') {
    const passwd* entry = getpwuid(getuid());
    home = entry ? entry->pw_dir : nullptr;
  }
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/" + underHome + "/jaselo";
}

std::string DataFolderPath() { return UserBaseFolder("XDG_DATA_HOME", ".local/share"); }

bool MakePrivateFolder(const std::string& folder, std::string& error) {
  if (folder.empty() || folder[0] != '/') {
    error = "no data folder is known (neither XDG_DATA_HOME nor HOME is set)";
    return false;
  }
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
      error = Why("cannot make", part);
      return false;
    }
    if (slash == std::string::npos) break;
  }
  return true;
}

namespace {
enum class Placing { Replace, Create };

// Writes a new private file beside `path` and puts it in place; `existed`
// when creating found `path` already there.
bool PlacePrivateFile(const std::string& path, const std::string& content, Placing placing, bool& existed,
                      std::string& error) {
  existed = false;
  const std::string temporary = TemporaryName(path);
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = Why("cannot create", temporary);
    return false;
  }
  const bool written = WriteWhole(fd, content) && fsync(fd) == 0;
  const int writeError = errno;
  const bool closed = close(fd) == 0;
  bool placed = false;
  if (written && closed) {
    // A link fails where a name exists; a file system without links gets
    // the rename, which is as good but for a simultaneous first run.
    const bool linked = placing == Placing::Create && link(temporary.c_str(), path.c_str()) == 0;
    existed = placing == Placing::Create && !linked && errno == EEXIST;
    if (linked) unlink(temporary.c_str());
    placed = linked || (!existed && rename(temporary.c_str(), path.c_str()) == 0);
  } else if (!written) {
    errno = writeError;
  }
  if (!placed) {
    error = Why("cannot write", path);
    unlink(temporary.c_str());
    return false;
  }
  // The new name lasts once the folder is on disk too.
  const std::string folder = path.substr(0, path.rfind('/') + 1);
  const int dir = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}
}  // namespace

bool WritePrivateFile(const std::string& path, const std::string& content, std::string& error) {
  bool existed = false;
  return PlacePrivateFile(path, content, Placing::Replace, existed, error);
}

bool CreatePrivateFile(const std::string& path, const std::string& content, bool& existed, std::string& error) {
  return PlacePrivateFile(path, content, Placing::Create, existed, error);
}

bool ReadSmallFile(const std::string& path, size_t limit, std::string& content, bool& missing, std::string& error) {
  content.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  missing = fd < 0 && errno == ENOENT;
  if (fd < 0) {
    error = Why("cannot open", path);
    return false;
  }
  char chunk[4096];
  for (;;) {
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Why("cannot read", path);
      close(fd);
      return false;
    }
    if (n == 0) break;
    content.append(chunk, static_cast<size_t>(n));
    if (content.size() > limit) {
      error = path + " is larger than " + std::to_string(limit) + " bytes";
      close(fd);
      return false;
    }
  }
  close(fd);
  return true;
}
