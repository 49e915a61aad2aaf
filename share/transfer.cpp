#include "share/transfer.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "share/filerequest.h"
#include "share/upload.h"

namespace {
constexpr size_t RECEIVE_CHUNK = 64 * 1024;
// Reads one wake-up takes from one connection, so that one fast sender does
// not hold back the others.
constexpr int READS_PER_SERVE = 16;
constexpr size_t FILE_CHUNK = 64 * 1024;
// The file is read ahead of the socket up to this much, and again once less
// than half of it waits.
constexpr size_t SEND_AHEAD = 256 * 1024;
// After an answer that leaves part of a body unread, the rest is read and
// let go for a moment, so that the sender sees the answer instead of a reset.
constexpr std::chrono::milliseconds LINGER{2000};
constexpr uint64_t LINGER_BYTES = 4 * 1024 * 1024;

// Nothing a shared file holds may run as the page's: it is never sniffed,
// never run, and never shown framed in another site.
constexpr std::string_view SAFE_HEADERS =
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'none'; sandbox\r\n"
    "Cross-Origin-Resource-Policy: same-origin\r\n"
    "Referrer-Policy: no-referrer\r\n";

std::string_view StatusOf(ShareRefusal refusal) {
  switch (refusal) {
    case ShareRefusal::TooLarge: return "413 Content Too Large";
    case ShareRefusal::QuotaFull:
    case ShareRefusal::DiskFull: return "507 Insufficient Storage";
    case ShareRefusal::BadChecksum: return "422 Unprocessable Content";
    case ShareRefusal::None:
    case ShareRefusal::Failed: break;
  }
  return "500 Internal Server Error";
}
}  // namespace

Transfer::Transfer(FileExchange exchange, FileStore& store, const FileDoorRules& rules, Clock::time_point now)
    : socket(std::move(exchange.socket)),
      stream(std::move(exchange.stream)),
      address(exchange.address),
      store(&store),
      rules(&rules),
      deadline(now + rules.idle) {
  Start(exchange.request);
  if (stage == Stage::Receiving && !exchange.rest.empty()) TakeBody(exchange.rest.data(), exchange.rest.size());
}

Transfer::Transfer(FileExchange exchange, std::string_view status, std::string_view why, std::string_view extraHeaders)
    : socket(std::move(exchange.socket)),
      stream(std::move(exchange.stream)),
      address(exchange.address),
      deadline(Clock::now() + LINGER) {
  bodyLeft = exchange.request.contentLength;
  Answer(status, why, extraHeaders);
}

Transfer::~Transfer() {
  if (file >= 0) close(file);
}

void Transfer::Start(const HttpRequest& request) {
  const FileRequest asked = ReadFileRequest(request.method, request.target);
  bodyLeft = request.contentLength;
  switch (asked.kind) {
    case FileRequest::Kind::Upload: StartUpload(request, asked.name, asked.ticket, asked.sha256); return;
    case FileRequest::Kind::Fetch: StartFetch(request, asked.id, asked.head); return;
    case FileRequest::Kind::Bad: break;
  }
  if (request.method != "GET" && request.method != "HEAD" && request.method != "PUT") {
    Answer("405 Method Not Allowed", "405 Method Not Allowed", "Allow: GET, HEAD, PUT\r\n");
  } else if (request.method == "PUT") {
    Answer("400 Bad Request", "an upload names the file, the ticket and its SHA-256");
  } else {
    Answer("404 Not Found", "404 Not Found");
  }
}

void Transfer::StartUpload(const HttpRequest& request, const std::string& name, const std::string& ticket,
                           const std::string& sha256) {
  // Only a participant of the chat may leave a file with its host.
  if (!rules->holdsTicket || !rules->holdsTicket(ticket, address)) {
    Answer("403 Forbidden", "this upload names no ticket of a participant connected from here");
    return;
  }
  ShareRefusal refusal = ShareRefusal::None;
  upload = store->Begin(name, request.contentLength, sha256, refusal);
  if (!upload) {
    Answer(StatusOf(refusal), RefusalText(refusal, store->Limits()));
    return;
  }
  stage = Stage::Receiving;
  if (request.expect.size() == 12 && strncasecmp(request.expect.c_str(), "100-continue", 12) == 0) {
    const std::string_view go = "HTTP/1.1 100 Continue\r\n\r\n";
    Seal(reinterpret_cast<const uint8_t*>(go.data()), go.size());
  }
  if (bodyLeft == 0) FinishUpload();
}

void Transfer::StartFetch(const HttpRequest& request, const std::string& id, bool head) {
  const std::optional<StoredFile> kept = store->Find(id);
  // The file stays readable through its descriptor even if it expires now.
  if (kept) file = open(store->PathOf(id).c_str(), O_RDONLY | O_CLOEXEC);
  if (!kept || file < 0) {
    Answer("404 Not Found", "no such file, or no longer kept");
    return;
  }
  uint8_t first[16] = {};
  const ssize_t got = pread(file, first, sizeof first, 0);
  const std::string picture = PictureType(first, got > 0 ? static_cast<size_t>(got) : 0);
  const std::string size = std::to_string(kept->size);
  uint64_t from = 0, to = 0;
  const RangeAsked range = ReadRange(request.range, kept->size, from, to);
  if (range == RangeAsked::Unsatisfiable) {
    Answer("416 Range Not Satisfiable", "416 Range Not Satisfiable", "Content-Range: bytes */" + size + "\r\n");
    return;
  }
  const uint64_t length = kept->size == 0 ? 0 : to - from + 1;
  std::string head_;
  head_.append(range == RangeAsked::Part ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n");
  head_.append("Content-Type: ").append(picture.empty() ? "application/octet-stream" : picture).append("\r\n");
  head_.append("Content-Length: ").append(std::to_string(length)).append("\r\n");
  if (range == RangeAsked::Part) {
    head_.append("Content-Range: bytes ")
        .append(std::to_string(from) + "-" + std::to_string(to) + "/" + size)
        .append("\r\n");
  }
  head_.append("Accept-Ranges: bytes\r\n");
  // Pictures alone are shown in place; everything else is saved.
  head_.append("Content-Disposition: ").append(ContentDisposition(kept->name, !picture.empty())).append("\r\n");
  head_.append("ETag: \"").append(kept->sha256).append("\"\r\n");
  head_.append("Cache-Control: private, max-age=3600\r\n");
  head_.append(SAFE_HEADERS);
  head_.append("Connection: close\r\n\r\n");
  Seal(reinterpret_cast<const uint8_t*>(head_.data()), head_.size());
  fileNext = from;
  fileLeft = head ? 0 : length;
  stage = Stage::Sending;
  ReadAhead();
}

void Transfer::Answer(std::string_view status, std::string_view text, std::string_view extraHeaders) {
  const std::string body = std::string(text) + "\n";
  std::string r = "HTTP/1.1 " + std::string(status) + "\r\nContent-Type: text/plain; charset=utf-8\r\n";
  r.append("Content-Length: ").append(std::to_string(body.size())).append("\r\nCache-Control: no-store\r\n");
  r.append(SAFE_HEADERS).append(extraHeaders).append("Connection: close\r\n\r\n").append(body);
  upload.reset();
  stage = Stage::Sending;
  fileLeft = 0;
  deadline = std::min(deadline, Clock::now() + LINGER);
  Seal(reinterpret_cast<const uint8_t*>(r.data()), r.size());
}

bool Transfer::Seal(const uint8_t* bytes, size_t n) {
  if (n == 0) return true;
  chunk.assign(bytes, bytes + n);
  return stream->Seal(chunk, {chunk.size()}, out);
}

short Transfer::Events() const {
  short events = 0;
  if (outStart < out.size()) events |= POLLOUT;
  // Reading goes on while a body comes, and after the answer while the rest
  // of a refused body is let go.
  if (stage == Stage::Receiving || bodyLeft > 0 || !stream->Ready()) events |= POLLIN;
  return events;
}

bool Transfer::Serve(short revents, Clock::time_point now) {
  if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Receive(now)) return false;
  if (!Send(now)) return false;
  if (stage == Stage::Sending && outStart == out.size() && fileLeft == 0) {
    if (bodyLeft == 0) return false;  // all is said
    // A body still on its way is read and let go for a moment, so that its
    // sender sees the answer rather than a reset.
    stage = Stage::Done;
    shutdown(socket.Get(), SHUT_WR);
    deadline = std::min(deadline, now + LINGER);
  }
  if (stage == Stage::Done && bodyLeft == 0) return false;
  return now < deadline;
}

bool Transfer::Receive(Clock::time_point now) {
  for (int i = 0; i < READS_PER_SERVE; ++i) {
    uint8_t bytes[RECEIVE_CHUNK];
    const long n = ReceiveSome(socket.Get(), bytes, sizeof bytes);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    // The peer closed or failed: an upload cut short leaves nothing kept.
    if (n <= 0) return false;
    std::vector<uint8_t> own;
    opened.clear();
    if (!stream->Open(bytes, static_cast<size_t>(n), opened, own)) return false;
    out.insert(out.end(), own.begin(), own.end());
    if (stage == Stage::Receiving) {
      Progress(opened.size(), now);
      if (!TakeBody(opened.data(), opened.size())) return true;
    } else {
      // The rest of a refused body, let go within a bound.
      bodyLeft -= std::min<uint64_t>(bodyLeft, opened.size());
      lingered += opened.size();
      if (lingered > LINGER_BYTES) return false;
    }
  }
  return true;
}

bool Transfer::TakeBody(const uint8_t* bytes, size_t n) {
  // Bytes past the announced length would be the next request, which this
  // connection does not take.
  if (n > bodyLeft) {
    Answer("400 Bad Request", "more bytes came than the upload announced");
    bodyLeft = 0;
    return false;
  }
  if (!upload->Write(bytes, n)) {
    Answer(StatusOf(ShareRefusal::Failed), RefusalText(ShareRefusal::Failed, store->Limits()));
    bodyLeft -= n;
    return false;
  }
  bodyLeft -= n;
  if (bodyLeft == 0) FinishUpload();
  return true;
}

void Transfer::FinishUpload() {
  ShareRefusal refusal = ShareRefusal::None;
  const std::optional<StoredFile> kept = upload->Finish(refusal);
  upload.reset();
  if (!kept) {
    Answer(StatusOf(refusal), RefusalText(refusal, store->Limits()));
    return;
  }
  Answer("201 Created", kept->id, "Location: " + SharedFilePath(kept->id, kept->name) + "\r\n");
}

bool Transfer::Send(Clock::time_point now) {
  if (!ReadAhead()) return false;
  while (outStart < out.size()) {
    const long sent = SendSome(socket.Get(), out.data() + outStart, out.size() - outStart);
    if (sent < 0) return false;
    if (sent == 0) return true;
    outStart += static_cast<size_t>(sent);
    Progress(static_cast<uint64_t>(sent), now);
    if (!ReadAhead()) return false;
  }
  return true;
}

bool Transfer::ReadAhead() {
  if (out.size() - outStart >= SEND_AHEAD / 2 || fileLeft == 0) return true;
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(outStart));
  outStart = 0;
  while (fileLeft > 0 && out.size() < SEND_AHEAD) {
    chunk.resize(static_cast<size_t>(std::min<uint64_t>(fileLeft, FILE_CHUNK)));
    const ssize_t got = pread(file, chunk.data(), chunk.size(), static_cast<off_t>(fileNext));
    // A kept file that shrank under the host is cut off: the peer sees the
    // length fall short.
    if (got <= 0) return false;
    chunk.resize(static_cast<size_t>(got));
    if (!stream->Seal(chunk, {chunk.size()}, out)) return false;
    fileNext += static_cast<uint64_t>(got);
    fileLeft -= static_cast<uint64_t>(got);
  }
  return true;
}

void Transfer::Progress(uint64_t bytes, Clock::time_point now) {
  sinceProgress += bytes;
  if (rules == nullptr || sinceProgress < rules->leastProgress) return;
  sinceProgress = 0;
  deadline = now + rules->idle;
}
