#pragma once
// A host's identity: an ECDSA P-256 key pair and a self-signed certificate,
// made on the host's first run and kept in one PEM file that only the user may
// read. The SHA-256 of the certificate is the chat's key.

#include <openssl/types.h>

#include <string>

#include "trust/keydigest.h"

// The file the identity is kept in, inside a data folder.
inline constexpr const char* HOST_KEY_FILE = "host-key.pem";

struct HostIdentity {
  std::string pem;  // the private key, then the certificate
  KeyDigest key;
};

// The identity kept in `folder`, made there first if there is none. A file
// that exists but cannot be read as an identity is left alone and refused:
// replacing it would change the chat's key behind its users' backs.
bool LoadOrMakeHostIdentity(const std::string& folder, HostIdentity& identity, std::string& error);

// True, with the command that mends it in `error`, when the identity file in
// `folder` may be read by others than its owner: whoever read it could pose
// as the host, so it is not used.
bool HostKeyExposed(const std::string& folder, std::string& error);

// A new identity, kept nowhere: for a host that keeps no files (a test, a
// benchmark).
bool MakeHostIdentity(HostIdentity& identity);

// The chat's key of a certificate.
KeyDigest DigestOf(X509* certificate);
