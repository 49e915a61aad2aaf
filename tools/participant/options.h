#pragma once
// Command line of the headless participant.

#include <cstddef>
#include <cstdint>
#include <string>

#include "chat/linehistory.h"

// The name a headless host is announced under when --nick does not give one.
inline constexpr const char* DEFAULT_HOST_NICK = "Jaselo host";
// How long --find looks by default, in seconds.
constexpr unsigned DEFAULT_FIND_SECONDS = 3;

struct ParticipantOptions {
  bool serve = false;
  bool announce = true;  // --serve without --no-announce
  bool find = false;
  unsigned findSeconds = DEFAULT_FIND_SECONDS;
  std::string nick;
  std::string host = "127.0.0.1";
  uint16_t port = 27015;
  std::string face = "Arial";
  uint16_t red = 0;
  uint16_t green = 0;
  uint16_t blue = 0;
  bool bold = false;
  bool italic = false;
  bool underline = false;
  bool quiet = false;
  bool noInput = false;            // run until a signal, whatever standard input does
  bool rejoin = false;             // join again after a lost connection
  size_t history = HISTORY_LINES;  // --serve: public lines kept for those who join later
  // Where the host key and the hosts met before are kept; empty: the
  // user's data folder.
  std::string dataDir;
  bool acceptNewKey = false;   // join a host whose key is not the one remembered
  std::string passwordFile;    // the chat's password: to give, or (--serve) to ask for
  bool encryptedOnly = false;  // --serve: refuse plain connections
  unsigned maxPerAddress = 8;  // --serve: watched connections one address may hold
  unsigned connectRate = 32;   // --serve: new connections one address may open a second
  // --serve: keeps the files participants share, within these bounds.
  bool sharing = true;
  unsigned shareLargestMiB = 2048;
  unsigned shareTotalMiB = 4096;
  unsigned shareHours = 24;
  std::string share;    // a file to share once joined
  std::string shareTo;  // --to: the one person it is shared with
  std::string fetch;    // the address of a shared file to fetch
  std::string out;      // --out: where the fetched file goes
  bool help = false;
  bool version = false;
};

// Fills `out` from argv; on a mistake returns false with a one-line reason.
bool ParseOptions(int argc, char** argv, ParticipantOptions& out, std::string& error);

// The --help text: usage, options and the exact output format.
const char* HelpText();
