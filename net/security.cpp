#include "net/security.h"

#include <algorithm>

#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace {
std::string HexOf(const unsigned char* bytes) {
  KeyDigest digest;
  std::copy_n(bytes, digest.bytes.size(), digest.bytes.begin());
  return digest.Hex();
}

// The pass a host gives those who gave its password: it changes when the key
// or the password does, and only the key's holder can make it.
std::string ColleaguePass(const std::string& keyPem, const std::string& password) {
  const std::string what = "colleague pass\n" + password;
  unsigned char mac[32];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), keyPem.data(), static_cast<int>(keyPem.size()),
           reinterpret_cast<const unsigned char*>(what.data()), what.size(), mac, &length) == nullptr ||
      length != sizeof mac) {
    return "";
  }
  return HexOf(mac);
}
}  // namespace

bool SetUpHost(const std::string& dataFolder, const std::string& password, bool encryptedOnly,
               const std::string& machineName, HostSetup& setup, std::string& error) {
  setup = HostSetup();
  setup.security.encryptedOnly = encryptedOnly;
  setup.security.password = password;
  // A key others may have read is no proof of who hosts: nothing is hosted on it.
  if (HostKeyExposed(dataFolder, error)) return false;
  HostIdentity identity;
  std::string why;
  if (LoadOrMakeHostIdentity(dataFolder, identity, why)) setup.security.tls = TlsContext::ForHost(identity, why);
  unsigned char own[32];
  if (setup.security.tls && RAND_bytes(own, sizeof own) == 1) setup.security.ownPass = HexOf(own);
  if (setup.security.tls && !password.empty()) setup.security.colleaguePass = ColleaguePass(identity.pem, password);
  if (!setup.security.tls) {
    if (encryptedOnly || !password.empty()) {
      error = "no host key (" + why +
              "): a chat with a password or for encrypted connections only cannot be hosted without one";
      return false;
    }
    setup.noKey = why;
  } else {
    setup.key = setup.security.tls->Key();
    setup.web.shortKey = setup.key.Grouped();
  }
  setup.web.machineName = machineName;
  return true;
}
