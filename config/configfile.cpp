#include "config/configfile.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "protocol/utf8.h"
#include "trust/privatefiles.h"

namespace {

constexpr size_t kTextLimit = sizeof(ChatSettings::Pseudo) - 1;

std::string_view FieldText(const char (&field)[32]) {
  const std::string_view whole(field, strnlen(field, sizeof(field)));
  return whole.substr(0, Utf8PrefixLength(whole, kTextLimit));
}

// Buffered bytes of a file with a few bytes of look-ahead. A read error ends
// the input like the end of the file.
class ByteReader {
 public:
  explicit ByteReader(int fd) : fd_(fd) {}

  // The byte `ahead` places on, or -1 past the end. ahead < 4.
  int Peek(size_t ahead = 0) {
    while (pos_ + ahead >= len_ && !end_) Fill();
    return pos_ + ahead < len_ ? buf_[pos_ + ahead] : -1;
  }
  void Skip() { ++pos_; }

 private:
  void Fill() {
    std::memmove(buf_, buf_ + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
    ssize_t n;
    do {
      n = read(fd_, buf_ + len_, sizeof(buf_) - len_);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) end_ = true;
    else len_ += static_cast<size_t>(n);
  }

  int fd_;
  unsigned char buf_[4096];
  size_t pos_ = 0;
  size_t len_ = 0;
  bool end_ = false;
};

// White space of formatted input in the C locale.
bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }

void SkipSpace(ByteReader& in) {
  while (IsSpace(in.Peek())) in.Skip();
}

// An optionally signed decimal. A sign without digits is consumed and fails,
// as formatted input does. Overlong numbers wrap: callers keep low bits only.
bool ReadDecimal(ByteReader& in, int32_t& value) {
  SkipSpace(in);
  int c = in.Peek();
  const bool negative = c == '-';
  if (c == '-' || c == '+') {
    in.Skip();
    c = in.Peek();
  }
  if (!IsDigit(c)) return false;
  uint32_t magnitude = 0;
  for (; IsDigit(c); c = in.Peek()) {
    magnitude = magnitude * 10u + static_cast<uint32_t>(c - '0');
    in.Skip();
  }
  value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

// Matches `pattern` the way formatted input does: a blank, CR or LF takes any
// run of white space (none included), %d reads a decimal into the next value,
// anything else must equal the next byte. Stops at the first mismatch, leaving
// that byte unread and the remaining values as they were.
void Match(ByteReader& in, std::string_view pattern, std::span<int32_t> values) {
  size_t next = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char p = pattern[i];
    if (p == ' ' || p == '\r' || p == '\n') {
      SkipSpace(in);
    } else if (p == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
      ++i;
      if (next >= values.size() || !ReadDecimal(in, values[next])) return;
      ++next;
    } else {
      if (in.Peek() != static_cast<unsigned char>(p)) return;
      in.Skip();
    }
  }
}

// Reads a text stored with `count` = its length + 1, like reading one line of
// at most count - 1 bytes (and never more than the field holds). A line feed
// read ends the text and stays in it. A character that would not fit whole is
// left unread.
void ReadText(ByteReader& in, int32_t count, char (&text)[32]) {
  if (count < 2) return;
  const size_t limit = std::min(static_cast<size_t>(count) - 1, kTextLimit);
  size_t used = 0;
  while (used < limit) {
    char ahead[4];
    size_t available = 0;
    for (int c; available < sizeof(ahead) && (c = in.Peek(available)) >= 0; ++available)
      ahead[available] = static_cast<char>(c);
    if (available == 0) return;
    const size_t length = ReadUtf8Char({ahead, available}).length;
    if (used + length > limit) return;
    for (size_t i = 0; i < length; ++i) {
      text[used++] = ahead[i];
      in.Skip();
    }
    if (ahead[0] == '\n') return;
  }
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string WithoutControls(std::string_view text) {
  std::string out;
  for (const char c : text)
    if (!IsControl(static_cast<unsigned char>(c))) out += c;
  return out;
}

std::string FormatSettings(const ChatSettings& s) {
  const bool server = s.Role == TYPE_SERVER;
  const bool client = s.NeitherOrBothRoles ? server : !server;
  const std::string pseudo = NicknameForSettings(FieldText(s.Pseudo));
  const std::string police = FaceNameForSettings(FieldText(s.Police));
  char text[512];
  const int n = std::snprintf(
      text, sizeof(text),
      "#Pseudo\r\n%zu %.*s\r\n#Client-Server\r\n%d %d\r\n#IpAddress\r\n%d.%d.%d.%d\r\n"
      "#Port\r\n%u\r\n#Police\r\n%zu %.*s\r\n#Couleur\r\n%u %u %u\r\n#Mode\r\n%d %d %d\r\n",
      pseudo.size() + 1, static_cast<int>(pseudo.size()), pseudo.data(), client ? 1 : 0, server ? 1 : 0,
      // Address parts are signed: a part read as -1 is written back as -1.
      int{static_cast<int16_t>(s.Ip[0])}, int{static_cast<int16_t>(s.Ip[1])}, int{static_cast<int16_t>(s.Ip[2])},
      int{static_cast<int16_t>(s.Ip[3])}, unsigned{s.Port}, police.size() + 1, static_cast<int>(police.size()),
      police.data(), s.Color & 0xFFu, (s.Color >> 8) & 0xFFu, (s.Color >> 16) & 0xFFu, s.Bold ? 1 : 0, s.Italic ? 1 : 0,
      s.Underline ? 1 : 0);
  // Cannot be cut: every field is bounded well below the buffer.
  return std::string(text, static_cast<size_t>(std::max(n, 0)));
}

// A fresh file beside `target`, or -1. O_EXCL keeps two writers (or a planted
// link) from sharing one temporary.
int CreateTemporary(const std::string& target, std::string& name) {
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = target + ".tmp." + std::to_string(getpid()) + "." + std::to_string(serial++);
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The file a write through `path` lands in: the end of its chain of symbolic
// links, whether that file exists or not (a dangling link is written through).
std::string LinkTarget(const std::string& path) {
  std::string target = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat info;
    if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
    char link[PATH_MAX];
    const ssize_t n = readlink(target.c_str(), link, sizeof(link));
    if (n <= 0 || static_cast<size_t>(n) >= sizeof(link)) break;
    std::string next(link, static_cast<size_t>(n));
    const size_t slash = target.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = target.substr(0, slash + 1) + next;
    target = std::move(next);
  }
  return target;
}

// Rewrites the file itself, for a folder where no temporary file can be made.
// Only a regular file is emptied; O_NONBLOCK keeps a FIFO from hanging the exit.
void WriteInPlace(const std::string& path, std::string_view text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return;
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(fd, 0) == 0 && WriteWhole(fd, text)) fsync(fd);
  close(fd);
}

}  // namespace

std::string NicknameForSettings(std::string_view text) {
  std::string out = WithoutControls(text);
  out.erase(0, out.find_first_not_of(' '));
  out.erase(out.find_last_not_of(' ') + 1);
  return out;
}

std::string FaceNameForSettings(std::string_view text) {
  std::string out = WithoutControls(text);
  out.erase(0, out.find_first_not_of(' '));
  return out;
}

void CopySettingText(char (&field)[32], std::string_view text) {
  std::memset(field, 0, sizeof(field));
  std::memcpy(field, text.data(), Utf8PrefixLength(text, kTextLimit));
}

bool ReadConfigFile(const std::string& path, ChatSettings& settings) {
  // O_NONBLOCK so that a FIFO under this name cannot hang the start.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }

  ByteReader in(fd);
  int32_t sizePseudo[1] = {};
  char pseudo[32] = {};
  Match(in, "#Pseudo\r\n%d\r\n", sizePseudo);
  ReadText(in, sizePseudo[0], pseudo);

  // Client, Server, the four parts of Ip, Port, then the count of Police.
  int32_t middle[8] = {};
  char police[32] = {};
  Match(in, "\r\n#Client-Server\r\n%d %d\r\n#IpAddress\r\n%d.%d.%d.%d\r\n#Port\r\n%d\r\n#Police\r\n%d\r\n", middle);
  ReadText(in, middle[7], police);

  // Red, green, blue, then bold, italic, underline.
  int32_t tail[6] = {};
  Match(in, "\r\n#Couleur\r\n%d %d %d\r\n#Mode\r\n%d %d %d\r\n", tail);
  close(fd);

  // The file keeps a Client and a Server value; the Server one decides, so a
  // file with neither or both set still names one role.
  settings.Role = middle[1] != 0 ? TYPE_SERVER : TYPE_CLIENT;
  settings.NeitherOrBothRoles = (middle[0] != 0) == (middle[1] != 0);
  for (int i = 0; i < 4; ++i) settings.Ip[i] = static_cast<uint16_t>(middle[2 + i]);
  settings.Port = static_cast<uint16_t>(middle[6]);
  settings.Color = (static_cast<uint32_t>(tail[0]) & 0xFFu) | (static_cast<uint32_t>(tail[1]) & 0xFFu) << 8 |
                   (static_cast<uint32_t>(tail[2]) & 0xFFu) << 16;
  settings.Bold = tail[3] != 0;
  settings.Italic = tail[4] != 0;
  settings.Underline = tail[5] != 0;
  // A count reaching over the line break leaves CR LF in a text; it must not
  // reach the title, the wire or the next write.
  CopySettingText(settings.Police, FaceNameForSettings(police));
  CopySettingText(settings.Pseudo, NicknameForSettings(pseudo));
  return true;
}

void WriteConfigFile(const std::string& path, const ChatSettings& settings) {
  const std::string text = FormatSettings(settings);

  // Through a symbolic link, replace the file it names and keep the link.
  const std::string target = LinkTarget(path);

  std::string temporary;
  const int fd = CreateTemporary(target, temporary);
  if (fd < 0) {
    WriteInPlace(path, text);
    return;
  }
  // Keep the old file's permissions; the new one would otherwise follow umask.
  struct stat old;
  if (stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) fchmod(fd, old.st_mode & 07777);
  bool ok = WriteWhole(fd, text) && fsync(fd) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temporary.c_str(), target.c_str()) != 0) unlink(temporary.c_str());
}

void WriteDefaultConfigFile(const std::string& path) { WriteConfigFile(path, ChatSettings{}); }
