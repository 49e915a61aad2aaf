#include "share/fileclient.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <cerrno>
#include <limits>

#include "net/tlsstream.h"
#include "share/filerequest.h"
#include "trust/hex.h"
#include "trust/privatefiles.h"

namespace http = boost::beast::http;

namespace {
constexpr size_t CHUNK = 64 * 1024;
constexpr size_t ANSWER_HEAD_LIMIT = 16 * 1024;
constexpr size_t SHORT_BODY_LIMIT = 4096;

class Fd {
 public:
  explicit Fd(int fd) : fd(fd) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd; }

 private:
  int fd;
};
}  // namespace

bool ReadFileUrl(std::string_view url, FileUrl& out) {
  FileUrl u;
  if (url.starts_with("https://")) {
    u.tls = true;
    url.remove_prefix(8);
  } else if (url.starts_with("http://")) {
    url.remove_prefix(7);
  } else {
    return false;
  }
  const size_t slash = url.find('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view authority = url.substr(0, slash);
  u.path = std::string(url.substr(slash));
  const size_t colon = authority.rfind(':');
  u.address = std::string(authority.substr(0, colon));
  u.port = u.tls ? 443 : 80;
  if (colon != std::string_view::npos) {
    const std::string_view digits = authority.substr(colon + 1);
    unsigned port = 0;
    if (digits.empty() || digits.size() > 5) return false;
    for (const char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + static_cast<unsigned>(c - '0');
    }
    if (port == 0 || port > 65535) return false;
    u.port = static_cast<uint16_t>(port);
  }
  if (u.address.empty()) return false;
  out = std::move(u);
  return true;
}

std::string FileUrlText(const FileUrl& url) {
  return std::string(url.tls ? "https://" : "http://") + url.address + ":" + std::to_string(url.port) + url.path;
}

std::string FileSha256(const std::string& path, const std::atomic<bool>* stop) {
  const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (file.Get() < 0 || !hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1) return {};
  std::vector<uint8_t> chunk(CHUNK);
  while (stop == nullptr || !stop->load()) {
    const ssize_t n = read(file.Get(), chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {};
    if (n == 0) break;
    if (EVP_DigestUpdate(hash.get(), chunk.data(), static_cast<size_t>(n)) != 1) return {};
  }
  if (stop != nullptr && stop->load()) return {};
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  if (EVP_DigestFinal_ex(hash.get(), digest, &length) != 1) return {};
  return LowerHex(digest, length);
}

void FileClient::Cancel() {
  cancelled = true;
  // Wakes every wait on the socket at once: its reads end, its writes fail.
  const std::lock_guard lock(socketMutex);
  if (socket.Valid()) shutdown(socket.Get(), SHUT_RDWR);
}

bool FileClient::Failed(std::string& error) const {
  if (cancelled.load()) error = "cancelled";
  return false;
}

bool FileClient::Connect(const FileUrl& url, const std::shared_ptr<TlsContext>& tls, const Trust& trust,
                         std::string& error) {
  return Connecting(url, tls, trust, error) || Failed(error);
}

bool FileClient::Upload(const std::string& path, const std::string& name, const std::string& ticket,
                        std::string& sha256, std::string& id, std::string& error) {
  return Uploading(path, name, ticket, sha256, id, error) || Failed(error);
}

bool FileClient::Fetch(const FileUrl& url, const std::string& out, std::string& sha256, std::string& error) {
  return Fetching(url, out, sha256, error) || Failed(error);
}

bool FileClient::Connecting(const FileUrl& url, const std::shared_ptr<TlsContext>& tls, const Trust& trust,
                            std::string& error) {
  host = url;
  pending.clear();
  {
    const std::lock_guard lock(socketMutex);
    socket.Reset(cancelled.load() ? INVALID_SOCKET : CreateTcpSocket());
  }
  // A cancel while connecting finds no connection to shut down: it is seen here.
  if (!socket.Valid() || !ConnectTo(socket.Get(), url.address.c_str(), url.port, wait) || cancelled.load()) {
    error = "cannot connect to " + url.address + ":" + std::to_string(url.port);
    return false;
  }
  if (!url.tls) {
    stream = std::make_unique<PlainStream>();
    return true;
  }
  std::unique_ptr<TlsStream> secure = tls ? TlsStream::Connecting(tls) : nullptr;
  std::vector<uint8_t> own;
  if (!secure || !secure->Begin(own)) {
    error = "cannot make a TLS connection";
    return false;
  }
  stream = std::move(secure);
  while (!stream->Ready()) {
    if (!own.empty() && !SendRaw({reinterpret_cast<const char*>(own.data()), own.size()}, error)) return false;
    own.clear();
    pollfd p{socket.Get(), POLLIN, 0};
    uint8_t bytes[CHUNK];
    if (WaitReadable(&p, 1, static_cast<int>(wait.count())) <= 0) {
      error = "the host did not finish its TLS handshake";
      return false;
    }
    const long n = ReceiveSome(socket.Get(), bytes, sizeof bytes);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0 || !stream->Open(bytes, static_cast<size_t>(n), pending, own)) {
      error = "the host's TLS handshake failed";
      return false;
    }
  }
  if (!own.empty() && !SendRaw({reinterpret_cast<const char*>(own.data()), own.size()}, error)) return false;
  const std::optional<KeyDigest> key = static_cast<TlsStream&>(*stream).PeerKey();
  if (!key || !trust || !trust(*key)) {
    error = "the host's key is not the one trusted for it";
    return false;
  }
  return true;
}

bool FileClient::Send(std::string_view bytes, std::string& error) {
  if (stream->Transparent()) return SendRaw(bytes, error);
  const std::vector<uint8_t> plain(bytes.begin(), bytes.end());
  std::vector<uint8_t> sealed;
  if (!stream->Seal(plain, {plain.size()}, sealed)) {
    error = "cannot seal what is sent";
    return false;
  }
  return SendRaw({reinterpret_cast<const char*>(sealed.data()), sealed.size()}, error);
}

bool FileClient::SendRaw(std::string_view bytes, std::string& error) {
  size_t written = 0;
  if (!SendAll(socket.Get(), bytes.data(), bytes.size(), wait, written) || written != bytes.size()) {
    error = "the host stopped taking what is sent";
    return false;
  }
  return true;
}

bool FileClient::Receive(std::vector<uint8_t>& plain, std::string& error) {
  for (;;) {
    pollfd p{socket.Get(), POLLIN, 0};
    if (WaitReadable(&p, 1, static_cast<int>(wait.count())) <= 0) {
      error = "the host said nothing for too long";
      return false;
    }
    uint8_t bytes[CHUNK];
    const long n = ReceiveSome(socket.Get(), bytes, sizeof bytes);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) {
      error = "the host closed the connection";
      return false;
    }
    std::vector<uint8_t> own;
    const size_t before = plain.size();
    if (!stream->Open(bytes, static_cast<size_t>(n), plain, own)) {
      error = "what the host sent cannot be trusted";
      return false;
    }
    if (!own.empty() && !SendRaw({reinterpret_cast<const char*>(own.data()), own.size()}, error)) return false;
    if (plain.size() > before) return true;
  }
}

bool FileClient::ReadAnswerHead(Answer& answer, std::string& error) {
  http::response_parser<http::empty_body> parser;
  parser.header_limit(static_cast<std::uint32_t>(ANSWER_HEAD_LIMIT));
  parser.body_limit(std::numeric_limits<std::uint64_t>::max());
  for (;;) {
    boost::beast::error_code ec;
    const size_t used = pending.empty() ? 0 : parser.put(boost::asio::buffer(pending.data(), pending.size()), ec);
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
    if (parser.is_header_done()) break;
    if (ec && ec != http::error::need_more) {
      error = "the host's answer cannot be read";
      return false;
    }
    if (!Receive(pending, error)) return false;
  }
  const auto& m = parser.get();
  answer.status = m.result_int();
  answer.reason = std::string(m.reason());
  answer.length = parser.content_length().value_or(0);
  answer.etag = std::string(m[http::field::etag]);
  answer.contentRange = std::string(m[http::field::content_range]);
  return true;
}

bool FileClient::ReadShortBody(Answer& answer, std::string& error) {
  const size_t want = static_cast<size_t>(std::min<uint64_t>(answer.length, SHORT_BODY_LIMIT));
  while (pending.size() < want) {
    if (!Receive(pending, error)) return false;
  }
  answer.body.assign(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(want));
  while (!answer.body.empty() && (answer.body.back() == '\n' || answer.body.back() == '\r')) answer.body.pop_back();
  pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(want));
  return true;
}

bool FileClient::Uploading(const std::string& path, const std::string& name, const std::string& ticket,
                           std::string& sha256, std::string& id, std::string& error) {
  sha256 = FileSha256(path, &cancelled);
  const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat about {};
  if (sha256.empty() || file.Get() < 0 || fstat(file.Get(), &about) != 0) {
    error = "cannot read " + path;
    return false;
  }
  const auto size = static_cast<uint64_t>(about.st_size);
  // The host judges the upload by its head and answers before the body.
  const std::string head = "PUT /files/" + PercentEncode(name) + "?ticket=" + ticket + "&sha256=" + sha256 +
                           " HTTP/1.1\r\nHost: " + host.address + ":" + std::to_string(host.port) +
                           "\r\nContent-Length: " + std::to_string(size) +
                           "\r\nExpect: 100-continue\r\nConnection: close\r\n\r\n";
  if (!Send(head, error)) return false;
  Answer answer;
  if (!ReadAnswerHead(answer, error)) return false;
  if (answer.status == 100) {
    std::vector<char> chunk(CHUNK);
    for (uint64_t sent = 0; sent < size;) {
      const ssize_t n = read(file.Get(), chunk.data(), static_cast<size_t>(std::min<uint64_t>(CHUNK, size - sent)));
      if (n <= 0) {
        error = "cannot read " + path;
        return false;
      }
      if (!Send({chunk.data(), static_cast<size_t>(n)}, error)) return false;
      sent += static_cast<uint64_t>(n);
      Moved(sent, size);
    }
    answer = Answer();
    if (!ReadAnswerHead(answer, error)) return false;
  }
  if (!ReadShortBody(answer, error)) return false;
  if (answer.status != 201) {
    error = answer.body.empty() ? std::to_string(answer.status) + " " + answer.reason : answer.body;
    return false;
  }
  // The id goes into addresses and file names: only the host's own form of it.
  if (!IsLowerHex(answer.body, 32)) {
    error = "the host's answer cannot be read";
    return false;
  }
  id = answer.body;
  return true;
}

bool FileClient::Fetching(const FileUrl& url, const std::string& out, std::string& sha256, std::string& error) {
  struct stat about {};
  const uint64_t have = stat(out.c_str(), &about) == 0 ? static_cast<uint64_t>(about.st_size) : 0;
  std::string head = "GET " + url.path + " HTTP/1.1\r\nHost: " + url.address + ":" + std::to_string(url.port) +
                     "\r\nConnection: close\r\n";
  if (have > 0) head += "Range: bytes=" + std::to_string(have) + "-\r\n";
  if (!Send(head + "\r\n", error)) return false;
  Answer answer;
  if (!ReadAnswerHead(answer, error)) return false;
  if (answer.status != 200 && answer.status != 206) {
    ReadShortBody(answer, error);
    error = answer.body.empty() ? std::to_string(answer.status) + " " + answer.reason : answer.body;
    if (answer.status == 416) error = out + " is longer than the shared file: not the same file";
    return false;
  }
  sha256 = answer.etag.size() == 66 ? answer.etag.substr(1, 64) : "";
  const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (answer.status == 206 ? O_APPEND : O_TRUNC);
  {
    const Fd file(open(out.c_str(), flags, 0644));
    if (file.Get() < 0) {
      error = "cannot write " + out;
      return false;
    }
    // A resumed fetch counts what was there before as moved.
    const uint64_t whole = answer.length + (answer.status == 206 ? have : 0);
    for (uint64_t left = answer.length; left > 0;) {
      if (pending.empty() && !Receive(pending, error)) return false;
      const size_t take = static_cast<size_t>(std::min<uint64_t>(left, pending.size()));
      if (!WriteWhole(file.Get(), {reinterpret_cast<const char*>(pending.data()), take})) {
        error = "cannot write " + out;
        return false;
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(take));
      left -= take;
      Moved(whole - left, whole);
    }
  }
  if (sha256.empty() || FileSha256(out) != sha256) {
    unlink(out.c_str());
    error = "the file did not arrive as it was shared: deleted";
    return false;
  }
  return true;
}
