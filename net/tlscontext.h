#pragma once
// The TLS settings a host and a client share across their connections: TLS
// 1.3 only, no tickets or session cache (every connection is a handshake of
// its own), buffers released while a connection is idle. A host presents its
// identity; a client checks nobody's certificate chain, since it trusts a host
// by the digest of the certificate it presents.

#include <openssl/types.h>

#include <memory>
#include <string>

#include "trust/hostidentity.h"

class TlsContext {
 public:
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // A host's context over its identity; null, with the reason, when OpenSSL
  // refuses it.
  static std::shared_ptr<TlsContext> ForHost(const HostIdentity& identity, std::string& error);
  static std::shared_ptr<TlsContext> ForClient(std::string& error);

  SSL_CTX* Get() const { return context; }
  bool IsHost() const { return host; }
  // The host's key (a host's context only).
  const KeyDigest& Key() const { return key; }

 private:
  TlsContext(SSL_CTX* context, bool host) : context(context), host(host) {}
  SSL_CTX* context;
  bool host;
  KeyDigest key;
};
