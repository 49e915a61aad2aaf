#include "net/bytestream.h"

#include "web/webconnection.h"

namespace {
// The content type of a TLS handshake record. As the first byte of a chat
// message it would begin transport header 0x??16, which no message has.
constexpr uint8_t TLS_HANDSHAKE_RECORD = 0x16;
}  // namespace

bool PlainStream::Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>&) {
  opened.insert(opened.end(), bytes, bytes + n);
  return true;
}

bool PlainStream::Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>&, std::vector<uint8_t>& sealed) {
  sealed.insert(sealed.end(), messages.begin(), messages.end());
  return true;
}

StreamKind KindOfFirstBytes(const uint8_t* bytes, size_t n) {
  if (n == 0) return StreamKind::Undecided;
  if (bytes[0] == TLS_HANDSHAKE_RECORD) return StreamKind::Tls;
  switch (SniffHttpRequest(bytes, n)) {
    case HttpSniff::Yes: return StreamKind::Web;
    case HttpSniff::NeedMore: return StreamKind::Undecided;
    case HttpSniff::No: break;
  }
  return StreamKind::Plain;
}
