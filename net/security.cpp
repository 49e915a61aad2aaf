#include "net/security.h"

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
