#include "trust/hostidentity.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <sys/stat.h>

#include <memory>

#include "trust/privatefiles.h"

namespace {
constexpr size_t IDENTITY_FILE_LIMIT = 64 * 1024;

template <auto Free>
struct Deleter {
  template <typename T>
  void operator()(T* p) const {
    Free(p);
  }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO_free>>;

bool SetSerial(X509* certificate) {
  unsigned char random[16];
  if (RAND_bytes(random, sizeof random) != 1) return false;
  random[0] &= 0x7F;  // a positive number
  std::unique_ptr<BIGNUM, Deleter<BN_free>> number(BN_bin2bn(random, sizeof random, nullptr));
  return number && BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) != nullptr;
}

bool MakeCertificate(EVP_PKEY* key, CertPtr& out) {
  CertPtr certificate(X509_new());
  if (!certificate || X509_set_version(certificate.get(), 2) != 1 || !SetSerial(certificate.get())) return false;
  // Valid from a day ago (clocks differ) with no end: the key is trusted by
  // its digest, never by its dates.
  if (!X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -24 * 3600) ||
      ASN1_TIME_set_string(X509_getm_notAfter(certificate.get()), "99991231235959Z") != 1) {
    return false;
  }
  X509_NAME* name = X509_get_subject_name(certificate.get());
  const auto* common = reinterpret_cast<const unsigned char*>("Jaselo host");
  if (X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, common, -1, -1, 0) != 1 ||
      X509_set_issuer_name(certificate.get(), name) != 1 || X509_set_pubkey(certificate.get(), key) != 1 ||
      X509_sign(certificate.get(), key, EVP_sha256()) <= 0) {
    return false;
  }
  out = std::move(certificate);
  return true;
}

bool MakeIdentityPem(std::string& pem) {
  KeyPtr key(EVP_EC_gen("P-256"));
  CertPtr certificate;
  if (!key || !MakeCertificate(key.get(), certificate)) return false;
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
      PEM_write_bio_X509(bio.get(), certificate.get()) != 1) {
    return false;
  }
  char* data = nullptr;
  const long n = BIO_get_mem_data(bio.get(), &data);
  pem.assign(data, static_cast<size_t>(n));
  return true;
}

// Both halves present and belonging together.
bool ReadIdentityPem(const std::string& pem, KeyDigest& digest) {
  BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return false;
  KeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  CertPtr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  if (!key || !certificate || X509_check_private_key(certificate.get(), key.get()) != 1) return false;
  digest = DigestOf(certificate.get());
  return true;
}
}  // namespace

KeyDigest DigestOf(X509* certificate) {
  KeyDigest digest;
  unsigned int length = 0;
  X509_digest(certificate, EVP_sha256(), digest.bytes.data(), &length);
  return digest;
}

bool MakeHostIdentity(HostIdentity& identity) {
  return MakeIdentityPem(identity.pem) && ReadIdentityPem(identity.pem, identity.key);
}

bool HostKeyExposed(const std::string& folder, std::string& error) {
  const std::string path = folder + "/" + HOST_KEY_FILE;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 || (st.st_mode & 077) == 0) return false;
  error = "the host key " + path + " can be read by other users: chmod 600 " + path + " makes it yours alone";
  return true;
}

bool LoadOrMakeHostIdentity(const std::string& folder, HostIdentity& identity, std::string& error) {
  const std::string path = folder + "/" + HOST_KEY_FILE;
  bool missing = false;
  if (ReadSmallFile(path, IDENTITY_FILE_LIMIT, identity.pem, missing, error)) {
    if (ReadIdentityPem(identity.pem, identity.key)) return true;
    error = path + " holds no key and certificate that belong together";
    return false;
  }
  if (!missing) return false;
  if (!MakePrivateFolder(folder, error)) return false;
  if (!MakeHostIdentity(identity)) {
    error = "no key pair could be made";
    return false;
  }
  bool existed = false;
  if (CreatePrivateFile(path, identity.pem, existed, error)) return true;
  // Another host of this user made its key first: that one is the key.
  return existed && ReadSmallFile(path, IDENTITY_FILE_LIMIT, identity.pem, missing, error) &&
         ReadIdentityPem(identity.pem, identity.key);
}
