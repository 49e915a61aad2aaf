#include "net/tlscontext.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {
std::string OpenSslError(const char* what) {
  char detail[256] = "";
  ERR_error_string_n(ERR_get_error(), detail, sizeof detail);
  ERR_clear_error();
  return std::string(what) + ": " + detail;
}

SSL_CTX* NewContext(const SSL_METHOD* method) {
  SSL_CTX* context = SSL_CTX_new(method);
  if (context == nullptr) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
  SSL_CTX_set_max_proto_version(context, TLS1_3_VERSION);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION);
  SSL_CTX_set_num_tickets(context, 0);
  // AES-128-GCM first: the host seals a record for every reader every pass,
  // and AES is in the processor. Record buffers are kept between records
  // rather than released: releasing them costs more CPU per record than the
  // memory it saves is worth.
  SSL_CTX_set_ciphersuites(context, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
  SSL_CTX_set_options(context, SSL_OP_CIPHER_SERVER_PREFERENCE);
  return context;
}
}  // namespace

TlsContext::~TlsContext() { SSL_CTX_free(context); }

std::shared_ptr<TlsContext> TlsContext::ForHost(const HostIdentity& identity, std::string& error) {
  SSL_CTX* context = NewContext(TLS_server_method());
  if (context == nullptr) {
    error = OpenSslError("SSL_CTX_new");
    return nullptr;
  }
  std::shared_ptr<TlsContext> made(new TlsContext(context, true));
  BIO* bio = BIO_new_mem_buf(identity.pem.data(), static_cast<int>(identity.pem.size()));
  EVP_PKEY* key = bio ? PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr) : nullptr;
  X509* certificate = bio ? PEM_read_bio_X509(bio, nullptr, nullptr, nullptr) : nullptr;
  const bool used = key != nullptr && certificate != nullptr && SSL_CTX_use_certificate(context, certificate) == 1 &&
                    SSL_CTX_use_PrivateKey(context, key) == 1 && SSL_CTX_check_private_key(context) == 1;
  if (used) made->key = DigestOf(certificate);
  else error = OpenSslError("the host key");
  X509_free(certificate);
  EVP_PKEY_free(key);
  BIO_free(bio);
  return used ? made : nullptr;
}

std::shared_ptr<TlsContext> TlsContext::ForClient(std::string& error) {
  SSL_CTX* context = NewContext(TLS_client_method());
  if (context == nullptr) {
    error = OpenSslError("SSL_CTX_new");
    return nullptr;
  }
  // No chain to check: the certificate's digest is compared with the key
  // remembered for the host. The handshake still proves the host holds the
  // certificate's private key.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  return std::shared_ptr<TlsContext>(new TlsContext(context, false));
}
