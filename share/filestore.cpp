#include "share/filestore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <sstream>
#include <vector>

#include "share/sharedname.h"
#include "share/upload.h"
#include "trust/hex.h"
#include "trust/privatefiles.h"

namespace {
constexpr size_t ID_DIGITS = 32;
constexpr const char* DESCRIPTION = ".about";
constexpr size_t DESCRIPTION_LIMIT = 4096;

std::string Describe(const StoredFile& f) {
  return "name=" + f.name + "\nsize=" + std::to_string(f.size) + "\nsha256=" + f.sha256 +
         "\nuntil=" + std::to_string(f.keptUntil) + "\n";
}

// A description read back; anything missing or malformed forgets the file.
std::optional<StoredFile> Read(const std::string& id, const std::string& text) {
  StoredFile f;
  f.id = id;
  std::istringstream in(text);
  int found = 0;
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    try {
      if (key == "name") f.name = CleanSharedName(value);
      else if (key == "size") f.size = std::stoull(value);
      else if (key == "sha256" && IsLowerHex(value, 64)) f.sha256 = value;
      else if (key == "until") f.keptUntil = std::stoll(value);
      else return std::nullopt;
    } catch (const std::exception&) {
      return std::nullopt;
    }
    ++found;
  }
  if (found != 4 || f.sha256.empty()) return std::nullopt;
  return f;
}

int64_t Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(FileStore::Clock::now().time_since_epoch()).count();
}

}  // namespace

std::string SizeText(uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int unit = 0;
  double value = static_cast<double>(bytes);
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  std::ostringstream out;
  out.precision(value < 10 && unit > 0 ? 2 : 4);
  out << value << " " << units[unit];
  return out.str();
}

std::string RefusalText(ShareRefusal refusal, const ShareLimits& limits) {
  switch (refusal) {
    case ShareRefusal::None: return "";
    case ShareRefusal::TooLarge:
      return "the file is larger than the " + SizeText(limits.largestFile) + " this chat takes";
    case ShareRefusal::QuotaFull:
      return "the host already keeps its " + SizeText(limits.totalKept) + " of shared files: try again later";
    case ShareRefusal::DiskFull: return "the host's disk has no room for it";
    case ShareRefusal::BadChecksum: return "the file did not arrive as it was sent";
    case ShareRefusal::Failed: return "the host could not keep it";
  }
  return "";
}

bool FileStore::Open(const std::string& where, const ShareLimits& chosen, std::string& error) {
  const std::lock_guard lock(mutex);
  folder = where;
  incoming = where + "/incoming";
  limits = chosen;
  files.clear();
  kept = reserved = 0;
  if (!MakePrivateFolder(incoming, error)) return false;
  // What a cut upload left is nobody's.
  if (DIR* dir = opendir(incoming.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') unlink((incoming + "/" + entry->d_name).c_str());
    }
    closedir(dir);
  }
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    error = "cannot read " + folder;
    return false;
  }
  std::vector<std::string> ids;
  while (const dirent* entry = readdir(dir)) {
    const std::string file = entry->d_name;
    if (file.size() == ID_DIGITS + 6 && file.ends_with(DESCRIPTION) &&
        IsLowerHex(file.substr(0, ID_DIGITS), ID_DIGITS)) {
      ids.push_back(file.substr(0, ID_DIGITS));
    }
  }
  closedir(dir);
  const int64_t now = Now();
  for (const std::string& id : ids) {
    std::string text, why;
    bool missing = false;
    struct stat data {};
    const bool read = ReadSmallFile(PathOf(id) + DESCRIPTION, DESCRIPTION_LIMIT, text, missing, why);
    const std::optional<StoredFile> f = read ? Read(id, text) : std::nullopt;
    // A file whose bytes are not what its description says is not served.
    if (!f || f->keptUntil <= now || stat(PathOf(id).c_str(), &data) != 0 ||
        static_cast<uint64_t>(data.st_size) != f->size) {
      Forget(id);
      continue;
    }
    kept += f->size;
    files.emplace(id, *f);
  }
  return true;
}

std::unique_ptr<Upload> FileStore::Begin(const std::string& name, uint64_t size, const std::string& sha256,
                                         ShareRefusal& refusal) {
  const std::lock_guard lock(mutex);
  refusal = ShareRefusal::None;
  if (!IsLowerHex(sha256, 64)) refusal = ShareRefusal::BadChecksum;
  else if (size > limits.largestFile) refusal = ShareRefusal::TooLarge;
  else if (kept + reserved + size > limits.totalKept) refusal = ShareRefusal::QuotaFull;
  else if (!DiskHasRoom(reserved + size)) refusal = ShareRefusal::DiskFull;
  if (refusal != ShareRefusal::None) return nullptr;
  StoredFile file{RandomHex(ID_DIGITS / 2), CleanSharedName(name), size, sha256, 0};
  const std::string temporary = incoming + "/" + RandomHex(8);
  const int fd = file.id.empty() ? -1 : open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    refusal = ShareRefusal::Failed;
    return nullptr;
  }
  reserved += size;
  return std::make_unique<Upload>(*this, std::move(file), temporary, fd);
}

bool FileStore::DiskHasRoom(uint64_t size) const {
  struct statvfs disk {};
  if (statvfs(folder.c_str(), &disk) != 0) return false;
  const double total = static_cast<double>(disk.f_blocks) * static_cast<double>(disk.f_frsize);
  const double used = total - static_cast<double>(disk.f_bavail) * static_cast<double>(disk.f_frsize);
  return used + static_cast<double>(size) <= total * limits.diskShare;
}

bool FileStore::Keep(StoredFile file, const std::string& temporary) {
  const std::lock_guard lock(mutex);
  reserved -= file.size;
  file.keptUntil = Now() + limits.keptFor.count();
  std::string error;
  // The description first: a file without one is never served, and is
  // cleared at the next start.
  if (!WritePrivateFile(PathOf(file.id) + DESCRIPTION, Describe(file), error) ||
      rename(temporary.c_str(), PathOf(file.id).c_str()) != 0) {
    unlink((PathOf(file.id) + DESCRIPTION).c_str());
    return false;
  }
  kept += file.size;
  files.emplace(file.id, std::move(file));
  return true;
}

void FileStore::Release(uint64_t bytes) {
  const std::lock_guard lock(mutex);
  reserved -= bytes;
}

std::optional<StoredFile> FileStore::Find(const std::string& id) {
  const std::lock_guard lock(mutex);
  const auto it = files.find(id);
  if (it == files.end()) return std::nullopt;
  if (it->second.keptUntil <= Now()) {
    Discard(it);
    return std::nullopt;
  }
  return it->second;
}

void FileStore::Expire() {
  const std::lock_guard lock(mutex);
  const int64_t now = Now();
  for (auto it = files.begin(); it != files.end();) it = it->second.keptUntil <= now ? Discard(it) : std::next(it);
}

std::map<std::string, StoredFile>::iterator FileStore::Discard(std::map<std::string, StoredFile>::iterator it) {
  kept -= it->second.size;
  Forget(it->first);
  return files.erase(it);
}

uint64_t FileStore::Kept() {
  const std::lock_guard lock(mutex);
  return kept;
}

void FileStore::Forget(const std::string& id) {
  unlink(PathOf(id).c_str());
  unlink((PathOf(id) + DESCRIPTION).c_str());
}
