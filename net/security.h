#pragma once
// What a host offers and whom it lets in, how a client joins and whom it
// trusts, and how a client's last join went.

#include <chrono>
#include <memory>
#include <string>

#include "net/tlscontext.h"
#include "trust/keydigest.h"
#include "trust/knownhosts.h"

struct HostSecurity {
  // Null: the host speaks only the chat's plain messages.
  std::shared_ptr<TlsContext> tls;
  // Plain connections are refused: only TLS ones are taken.
  bool encryptedOnly = false;
  // The chat's password, empty for none. A chat with one takes only TLS
  // connections that give it in their HELLO, before their welcome.
  std::string password{};
};

struct ClientSecurity {
  // Null: the client joins in plain text only, as a peer of the plain
  // protocol does.
  std::shared_ptr<TlsContext> tls;
  // Where the hosts met before are remembered; null: nowhere.
  std::shared_ptr<KnownHosts> knownHosts;
  // A key that differs from the one remembered (or announced) is taken, and
  // remembered from now on.
  bool acceptNewKey = false;
  // The short key the host's announcement gave, or empty: the host must have it.
  std::string announcedKey;
  // A host that says nothing to a TLS handshake for this long, or closes,
  // speaks only plain messages.
  std::chrono::milliseconds answerWait{2000};
  // The chat's password, given inside TLS alone; empty for none.
  std::string password{};
};

struct ConnectReport {
  enum class Outcome {
    None,          // no join yet
    Encrypted,     // joined inside TLS; `key` is the host's
    Plain,         // joined in plain text: the host does not speak TLS
    KeyChanged,    // refused: the host's key is `key`, not `expected`
    PlainRefused,  // refused: the host, met before with the key `expected`, offers no TLS now
    Failed,        // no connection, or a TLS handshake that failed
  };
  Outcome outcome = Outcome::None;
  KeyDigest key;
  // The key remembered (64 hex digits) or announced (16).
  std::string expected;
};
