#pragma once
// What a host offers and whom it lets in, how a client joins and whom it
// trusts, and how a client's last join went.

#include <chrono>
#include <memory>
#include <string>

#include "net/tlscontext.h"
#include "trust/keydigest.h"
#include "trust/knownhosts.h"
#include "web/frontdoor.h"

struct HostSecurity {
  // Null: the host speaks only the chat's plain messages.
  std::shared_ptr<TlsContext> tls;
  // Plain connections are refused: only TLS ones are taken.
  bool encryptedOnly = false;
  // The chat's password, empty for none. A chat with one takes only TLS
  // connections that give it in their HELLO, before their welcome.
  std::string password{};
  // Given to those who gave the password (PASS), and taken back in their
  // HELLO as proof that they knew it before: their tries are not held back
  // with a guesser's at the same address. Made from the host's key and the
  // password, so that it lasts as long as both; empty without a password.
  std::string colleaguePass{};
  // What the host's own client gives instead of the password: made anew each
  // time the host starts, known to the host's process alone.
  std::string ownPass{};
};

// What a host serves with, made the same way by the window and the headless
// host.
struct HostSetup {
  HostSecurity security;
  // The chat's key; all zeros when the host has none.
  KeyDigest key;
  // What the page browsers join from shows of the host.
  WebSettings web;
  // Why the host has no key, when it speaks plain text for want of one.
  std::string noKey;
};

// The host's security over the key kept in `dataFolder` (made there on its
// first run), with the chat's password and whether plain connections are
// refused. Without a key a host can speak plain text only: with a password
// (which travels inside TLS alone) or for encrypted connections only it must
// not host at all, and false says why in `error`.
bool SetUpHost(const std::string& dataFolder, const std::string& password, bool encryptedOnly,
               const std::string& machineName, HostSetup& setup, std::string& error);

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
  // and does the same to a second handshake `retryPause` later, speaks only
  // plain messages. One silence or close is no proof: a host that is full,
  // or that someone keeps busy, closes too.
  std::chrono::milliseconds answerWait{2000};
  std::chrono::milliseconds retryPause{500};
  // Such a host, never met, is not joined in plain text at once: the join
  // ends with PlainOffered so that the user can be asked first.
  bool askBeforePlain = false;
  // The chat's password, given inside TLS alone; empty for none.
  std::string password{};
  // Given in the HELLO inside TLS instead of, or beside, the password: the
  // host's own pass for its own client; else, when `passes` remembers one
  // for the host's key, the pass that host gave.
  std::string pass{};
  // Where the passes hosts gave are kept; null: nowhere.
  std::shared_ptr<class PassBook> passes{};
};

struct ConnectReport {
  enum class Outcome {
    None,          // no join yet
    Encrypted,     // joined inside TLS; `key` is the host's
    Plain,         // joined in plain text: the host does not speak TLS
    KeyChanged,    // refused: the host's key is `key`, not `expected` (or `badLine` names it)
    PlainRefused,  // refused: the host, met before with the key `expected` (or named by `badLine`), offers no TLS now
    KnownHostsUnreadable,  // refused: `knownHosts` cannot be read (`problem` says why), so no key can be checked
    PlainOffered,          // not joined: a host never met offers no TLS, and the user is to be asked first
    Failed,                // no connection, or a TLS handshake that failed
  };
  Outcome outcome = Outcome::None;
  KeyDigest key;
  // The key remembered (64 hex digits) or announced (16).
  std::string expected;
  // The hosts file, when it is the reason: the line that names the host and
  // cannot be read (counted from 1), or why the whole file cannot be.
  std::string knownHosts;
  size_t badLine = 0;
  std::string problem;
};
