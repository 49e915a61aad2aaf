#pragma once
// The TLS kind of byte stream. OpenSSL transforms bytes between two memory
// buffers and never touches the socket: our own receives and sends, output
// buffers and limits stay as they are, and no write inside OpenSSL can raise
// SIGPIPE.

#include <openssl/types.h>

#include <memory>
#include <optional>
#include <vector>

#include "net/bytestream.h"
#include "net/tlscontext.h"
#include "trust/keydigest.h"

class TlsStream : public ByteStream {
 public:
  // The host's side of a connection, or the client's; null when OpenSSL
  // cannot make one.
  static std::unique_ptr<TlsStream> Accepting(const std::shared_ptr<TlsContext>& context);
  static std::unique_ptr<TlsStream> Connecting(const std::shared_ptr<TlsContext>& context);
  ~TlsStream() override;
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // The client's first flight, to send before anything is received.
  bool Begin(std::vector<uint8_t>& own);
  bool Open(const uint8_t* bytes, size_t n, std::vector<uint8_t>& opened, std::vector<uint8_t>& own) override;
  bool Seal(const std::vector<uint8_t>& messages, const std::vector<size_t>& ends,
            std::vector<uint8_t>& sealed) override;
  bool Ready() const override;
  bool Encrypted() const override { return true; }
  // The key of the certificate the other side presented, once Ready.
  std::optional<KeyDigest> PeerKey() const;

 private:
  TlsStream(std::shared_ptr<TlsContext> context, SSL* ssl, BIO* in, BIO* out);
  static std::unique_ptr<TlsStream> Make(const std::shared_ptr<TlsContext>& context, bool host);
  // What OpenSSL wrote to its outgoing buffer, appended to `to`.
  void TakeWritten(std::vector<uint8_t>& to);

  std::shared_ptr<TlsContext> context;  // outlives the SSL made from it
  SSL* ssl;
  BIO* in;   // bytes received, for OpenSSL to read
  BIO* out;  // bytes OpenSSL wrote, for the socket
};
