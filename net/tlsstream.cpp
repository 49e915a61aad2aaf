#include "net/tlsstream.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include "trust/hostidentity.h"

namespace {
// One TLS record's payload at most.
constexpr size_t READ_CHUNK = 16 * 1024;

bool Retry(SSL* ssl, int result) {
  const int error = SSL_get_error(ssl, result);
  return error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE;
}
}  // namespace

std::unique_ptr<TlsStream> TlsStream::Accepting(const std::shared_ptr<TlsContext>& context) {
  return Make(context, true);
}

std::unique_ptr<TlsStream> TlsStream::Connecting(const std::shared_ptr<TlsContext>& context) {
  return Make(context, false);
}

std::unique_ptr<TlsStream> TlsStream::Make(const std::shared_ptr<TlsContext>& context, bool host) {
  if (!context || context->IsHost() != host) return nullptr;
  SSL* ssl = SSL_new(context->Get());
  BIO* in = BIO_new(BIO_s_mem());
  BIO* out = BIO_new(BIO_s_mem());
  if (ssl == nullptr || in == nullptr || out == nullptr) {
    SSL_free(ssl);
    BIO_free(in);
    BIO_free(out);
    ERR_clear_error();
    return nullptr;
  }
  // An empty incoming buffer means "wait for more", not the end of the stream.
  BIO_set_mem_eof_return(in, -1);
  SSL_set_bio(ssl, in, out);  // the SSL owns both from here
  if (host) SSL_set_accept_state(ssl);
  else SSL_set_connect_state(ssl);
  return std::unique_ptr<TlsStream>(new TlsStream(context, ssl, in, out));
}

TlsStream::TlsStream(std::shared_ptr<TlsContext> context, SSL* ssl, BIO* in, BIO* out)
    : context(std::move(context)), ssl(ssl), in(in), out(out) {}

TlsStream::~TlsStream() { SSL_free(ssl); }

bool TlsStream::Ready() const { return SSL_is_init_finished(ssl) == 1; }

bool TlsStream::Begin(std::vector<uint8_t>& own) {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl);
  TakeWritten(own);
  return result == 1 || Retry(ssl, result);
}

bool TlsStream::Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) {
  ERR_clear_error();
  size_t stored = 0;
  if (n > 0 && (BIO_write_ex(in, bytes, n, &stored) != 1 || stored != n)) return false;
  if (!Ready()) {
    const int result = SSL_do_handshake(ssl);
    TakeWritten(own);
    if (result != 1) return Retry(ssl, result);
  }
  // Read until OpenSSL wants more: what it has opened and holds would never
  // show on the socket, so nothing may stay behind in it.
  uint8_t chunk[READ_CHUNK];
  for (;;) {
    size_t got = 0;
    const int result = SSL_read_ex(ssl, chunk, sizeof chunk, &got);
    if (result == 1) {
      opened.insert(opened.end(), chunk, chunk + got);
      // Nothing opened left inside, nothing received left to open: a
      // further read could only say it wants more.
      if (SSL_pending(ssl) == 0 && BIO_ctrl_pending(in) == 0) break;
      continue;
    }
    TakeWritten(own);
    // A close alert ends the stream like any fault: the connection goes.
    return SSL_get_error(ssl, result) == SSL_ERROR_WANT_READ;
  }
  TakeWritten(own);
  return true;
}

bool TlsStream::Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>&, std::vector<uint8_t>& sealed) {
  if (messages.empty()) return true;
  size_t written = 0;
  // A memory buffer takes every record: the whole write goes at once.
  if (SSL_write_ex(ssl, messages.data(), messages.size(), &written) != 1 || written != messages.size()) {
    return false;
  }
  TakeWritten(sealed);
  return true;
}

std::optional<KeyDigest> TlsStream::PeerKey() const {
  X509* certificate = Ready() ? SSL_get0_peer_certificate(ssl) : nullptr;
  if (certificate == nullptr) return std::nullopt;
  return DigestOf(certificate);
}

void TlsStream::TakeWritten(std::vector<uint8_t>& to) {
  const size_t n = BIO_ctrl_pending(out);
  if (n == 0) return;
  const size_t at = to.size();
  to.resize(at + n);
  size_t got = 0;
  BIO_read_ex(out, to.data() + at, n, &got);
  to.resize(at + got);
}
