#include "options.h"

#include <arpa/inet.h>

#include "tooloptions.h"

namespace {
// Five digits at most: no port or colour component needs more.
bool ParseNumber(const std::string& text, unsigned long max, unsigned long& out) {
  return text.size() <= 5 && WholeNumber(text, out) && out <= max;
}

bool ParseColor(const std::string& text, ParticipantOptions& o) {
  unsigned long rgb[3];
  size_t start = 0;
  for (int i = 0; i < 3; ++i) {
    const size_t comma = text.find(',', start);
    const bool last = i == 2;
    if (last != (comma == std::string::npos)) return false;
    const std::string part = text.substr(start, last ? std::string::npos : comma - start);
    if (!ParseNumber(part, 255, rgb[i])) return false;
    start = comma + 1;
  }
  o.red = static_cast<uint16_t>(rgb[0]);
  o.green = static_cast<uint16_t>(rgb[1]);
  o.blue = static_cast<uint16_t>(rgb[2]);
  return true;
}
}  // namespace

bool ParseOptions(int argc, char** argv, ParticipantOptions& o, std::string& error) {
  bool portGiven = false;
  bool noAnnounce = false;
  bool perAddressGiven = false;
  bool historyGiven = false;
  bool sharingGiven = false;
  ArgCursor arg(argc, argv, true);
  std::string value;
  while (arg.Next()) {
    if (arg.Is("--help") || arg.Is("-h")) {
      if (!arg.Flag(o.help, error)) return false;
    } else if (arg.Is("--version")) {
      if (!arg.Flag(o.version, error)) return false;
    } else if (arg.Is("--no-input")) {
      if (!arg.Flag(o.noInput, error)) return false;
    } else if (arg.Is("--rejoin")) {
      if (!arg.Flag(o.rejoin, error)) return false;
    } else if (arg.Is("--serve")) {
      if (!arg.Flag(o.serve, error)) return false;
    } else if (arg.Is("--no-announce")) {
      if (!arg.Flag(noAnnounce, error)) return false;
    } else if (arg.Is("--accept-new-key")) {
      if (!arg.Flag(o.acceptNewKey, error)) return false;
    } else if (arg.Is("--encrypted-only")) {
      if (!arg.Flag(o.encryptedOnly, error)) return false;
    } else if (arg.Is("--max-per-address")) {
      if (!arg.Number(o.maxPerAddress, 1u, 64u, "--max-per-address takes a number from 1 to 64", error)) return false;
      perAddressGiven = true;
    } else if (arg.Is("--connect-rate")) {
      if (!arg.Number(o.connectRate, 1u, 10000u, "--connect-rate takes a number from 1 to 10000", error)) return false;
      perAddressGiven = true;
    } else if (arg.Is("--no-sharing")) {
      bool off = false;
      if (!arg.Flag(off, error)) return false;
      o.sharing = !off;
      sharingGiven = true;
    } else if (arg.Is("--share-largest")) {
      if (!arg.Number(o.shareLargestMiB, 1u, 1048576u, "--share-largest takes MiB from 1 to 1048576", error)) {
        return false;
      }
      sharingGiven = true;
    } else if (arg.Is("--share-total")) {
      if (!arg.Number(o.shareTotalMiB, 1u, 1048576u, "--share-total takes MiB from 1 to 1048576", error)) return false;
      sharingGiven = true;
    } else if (arg.Is("--share-hours")) {
      if (!arg.Number(o.shareHours, 1u, 8760u, "--share-hours takes hours from 1 to 8760", error)) return false;
      sharingGiven = true;
    } else if (arg.Is("--share")) {
      if (!arg.Value(o.share, error)) return false;
    } else if (arg.Is("--to")) {
      if (!arg.Value(o.shareTo, error)) return false;
    } else if (arg.Is("--fetch")) {
      if (!arg.Value(o.fetch, error)) return false;
    } else if (arg.Is("--out")) {
      if (!arg.Value(o.out, error)) return false;
    } else if (arg.Is("--password-file")) {
      if (!arg.Value(o.passwordFile, error)) return false;
    } else if (arg.Is("--data-dir")) {
      if (!arg.Value(o.dataDir, error)) return false;
      if (o.dataDir.empty() || o.dataDir[0] != '/') {
        error = "--data-dir takes an absolute folder, not '" + o.dataDir + "'";
        return false;
      }
    } else if (arg.Is("--find")) {
      o.find = true;
      unsigned long seconds = 0;
      if (arg.OptionalValue(value)) {
        if (!WholeNumber(value, seconds) || seconds < 1 || seconds > 3600) {
          error = "--find takes a number of seconds from 1 to 3600, not '" + value + "'";
          return false;
        }
        o.findSeconds = static_cast<unsigned>(seconds);
      }
    } else if (arg.Is("--bold")) {
      if (!arg.Flag(o.bold, error)) return false;
    } else if (arg.Is("--italic")) {
      if (!arg.Flag(o.italic, error)) return false;
    } else if (arg.Is("--underline")) {
      if (!arg.Flag(o.underline, error)) return false;
    } else if (arg.Is("--quiet")) {
      if (!arg.Flag(o.quiet, error)) return false;
    } else if (arg.Is("--nick")) {
      if (!arg.Value(o.nick, error)) return false;
    } else if (arg.Is("--host")) {
      if (!arg.Value(value, error)) return false;
      in_addr parsed{};
      if (inet_pton(AF_INET, value.c_str(), &parsed) != 1) {
        error = "--host takes a dotted IPv4 address, not '" + value + "'";
        return false;
      }
      o.host = value;
    } else if (arg.Is("--port")) {
      if (!arg.Value(value, error)) return false;
      unsigned long port = 0;
      if (!ParseNumber(value, 65535, port)) {
        error = "--port takes a number from 0 to 65535, not '" + value + "'";
        return false;
      }
      o.port = static_cast<uint16_t>(port);
      portGiven = true;
    } else if (arg.Is("--history")) {
      if (!arg.Value(value, error)) return false;
      unsigned long lines = 0;
      if (!ParseNumber(value, HISTORY_LINES, lines)) {
        error =
            "--history takes a number of lines from 0 to " + std::to_string(HISTORY_LINES) + ", not '" + value + "'";
        return false;
      }
      o.history = lines;
      historyGiven = true;
    } else if (arg.Is("--face")) {
      if (!arg.Value(o.face, error)) return false;
    } else if (arg.Is("--color")) {
      if (!arg.Value(value, error)) return false;
      if (!ParseColor(value, o)) {
        error = "--color takes R,G,B with each from 0 to 255, not '" + value + "'";
        return false;
      }
    } else {
      error = "unknown argument '" + std::string(arg.Raw()) + "'";
      return false;
    }
  }
  if (o.help || o.version) return true;
  if (o.find && (o.serve || !o.nick.empty())) {
    error = "--find only lists the chats: it neither joins nor hosts";
    return false;
  }
  if (o.find) return true;
  if (!o.fetch.empty()) {
    if (o.serve || !o.share.empty()) {
      error = "--fetch only fetches a file: it neither joins nor hosts";
      return false;
    }
    return true;
  }
  if (!o.out.empty()) {
    error = "--out is for --fetch";
    return false;
  }
  if (!o.shareTo.empty() && o.share.empty()) {
    error = "--to is for --share";
    return false;
  }
  if (sharingGiven && !o.serve) {
    error = "--no-sharing, --share-largest, --share-total and --share-hours are for --serve";
    return false;
  }
  if (!o.serve && (noAnnounce || o.encryptedOnly || perAddressGiven)) {
    error = "--no-announce, --encrypted-only, --max-per-address and --connect-rate are for --serve";
    return false;
  }
  if (historyGiven && !o.serve) {
    error = "--history is for --serve";
    return false;
  }
  if (o.serve) {
    if (!o.share.empty()) {
      error = "--share is for joining; a host keeps the files others share";
      return false;
    }
    if (o.rejoin || o.acceptNewKey) {
      error = "--rejoin and --accept-new-key are for joining; --serve only hosts";
      return false;
    }
    // A host is announced under a name; it never joins its own chat.
    o.announce = !noAnnounce;
    if (o.nick.empty()) o.nick = DEFAULT_HOST_NICK;
    return true;
  }
  if (o.nick.empty()) {
    error = "--nick is required to join a chat";
    return false;
  }
  if (portGiven && o.port == 0) {
    error = "--port 0 only makes sense with --serve";
    return false;
  }
  return true;
}

const char* HelpText() {
  return R"(Usage:
  jaselo-participant --nick NAME [--host ADDRESS] [--port N] [--face FONT]
                     [--color R,G,B] [--bold] [--italic] [--underline] [--rejoin]
                     [--accept-new-key] [--password-file F] [--data-dir DIR]
                     [--share FILE [--to NICK]] [--quiet] [--no-input]
  jaselo-participant --serve [--port N] [--nick NAME] [--no-announce]
                     [--history N] [--encrypted-only] [--password-file F]
                     [--max-per-address N] [--connect-rate N] [--data-dir DIR]
                     [--no-sharing] [--share-largest MIB] [--share-total MIB]
                     [--share-hours H] [--quiet] [--no-input]
  jaselo-participant --fetch URL [--out FILE] [--accept-new-key] [--data-dir DIR]
  jaselo-participant --find [SECONDS]
  jaselo-participant --help | --version

Joins a Jaselo chat without a window. Every line read from standard input is
sent as a public chat line in the configured style (empty lines are skipped,
as the window's Send does); every chat event received is printed as one line
on standard output. At end of input the participant announces its departure,
waits 100 ms and exits. SIGINT and SIGTERM end it the same way.

With --serve it hosts the chat instead: it listens, relays, routes and keeps
the table of participants, showing nothing, until SIGINT, SIGTERM or end of
input. The one input line it takes is /remove NAME [MINUTES]: NAME leaves the
chat as one whose connection ended, and its address is kept out for MINUTES
(10 when not given; 0: until the host stops). At its end it sends the
shutdown notice "!!! SERVER !!!" to everybody, waits 100 ms and exits. A host started without
a terminal (a service, a script's background job) reads /dev/null and would
stop at once: give it --no-input. While it runs, the host announces its chat
on the local network through avahi-daemon (DNS-SD, service type
_jaselo._tcp), as "NAME on <this machine>", so that the settings dialog of
every window on the network lists it; --no-announce keeps it unlisted.
Without avahi-daemon the chat runs all the same, unlisted, and one
diagnostic line says so. The announcement also gives how many people are in
the chat (never who).

A participant that joins asks the host who is there and what was said
before; a Jaselo host answers with the PRESENT, PEOPLE and EARLIER lines
below, and a host that does not share them says nothing, so that none of
those lines is printed. A host keeps the last public lines it relayed for
those who join later: at most N (--history, default 200), at most an hour
old, at most 128 KiB in all; private lines are never kept.

Browsers join the same chat on the same port: the host serves a page there
(see the WEB lines), over TLS when it has its key, and a phone or any
computer with a browser takes part with nothing installed. With
--encrypted-only or --password-file the page is served over TLS alone, and a
password chat's page asks for the password.

Sharing files. A host keeps the files participants share, under
"shared" in its data folder, by generated names: each at most 2 GiB
(--share-largest), 4 GiB in all (--share-total) and never past 90 % of the
disk, each for 24 hours (--share-hours), across restarts; --no-sharing keeps
none. A file is uploaded once to the host over the chat's own port (HTTPS
where the host has its key), by participants only: the host gives each one
that joins inside TLS an upload ticket, good while it stays. Whoever gets
the chat line that announces a file fetches it from the host by its address,
which holds an unguessable identifier. With --share FILE a participant shares
FILE once joined (with --to NICK, with that one person alone): everyone gets
one ordinary chat line with the file's name, size and address, and prints
SHARED. --fetch URL downloads such a file into the current folder (or --out
FILE), checking the host's key against known-hosts as a join does, resuming
a partial file, and checking its SHA-256: a mismatch deletes it, exit 1.

With --find it lists the chats announced on the local network: it looks for
SECONDS (default 3), prints one CHAT line for each chat found and exits 0.

Encryption. A host makes a key pair and a certificate on its first run and
keeps them in its data folder (--data-dir, by default
$XDG_DATA_HOME/jaselo, that is ~/.local/share/jaselo), readable by its user
alone; the SHA-256 of the certificate is the chat's key. It serves TLS 1.3
and plain connections on the one port (plain ones only for peers that speak
no TLS; --encrypted-only refuses them). A participant always begins with TLS.
The first time it meets a host (address and port) it remembers the host's
key in known-hosts in its data folder; later a different key is refused
(KEY_CHANGED, exit 3) unless --accept-new-key is given, which remembers the
new one. A host met with a key is never joined in plain text. A host never
met that does not answer TLS (it closes, or says nothing for 2 s), and does
the same to a second try half a second later, is joined in plain text, and
the first line says so. To forget a host, delete its line from known-hosts.
A known-hosts that cannot be read (not the user's, a folder, over 1 MiB)
refuses every host (KNOWN_HOSTS_UNREADABLE, exit 3), and a line that names
the host but cannot be read (a cut key, a comment behind it) refuses that
host as a changed key does. A host key file that others may read is not
hosted on (exit 2): chmod 600 mends it.

A chat password (--password-file) is checked inside TLS before anyone hears
of the arrival: a participant that gives none or another is told so
(WRONG_PASSWORD, exit 3) and never tries again. Five wrong passwords from one
address within a minute make the host refuse that address for a minute.

Options:
  --nick NAME       nickname to join with (required unless --serve); with
                    --serve, the name the chat is announced under
                    (default "Jaselo host")
  --host ADDRESS    server's dotted IPv4 address (default 127.0.0.1)
  --port N          server's TCP port (default 27015); with --serve,
                    0 picks a free port
  --face FONT       font face name sent with each line (default Arial)
  --color R,G,B     text colour, each component 0-255 (default 0,0,0)
  --bold, --italic, --underline
                    text style sent with each line (default off)
  --rejoin          after a lost connection, join again by itself with the
                    same nickname: after 1 s, then 2, 4, 8, 16 s, then every
                    30 s, each a little earlier or later at random
  --quiet           silence the library's diagnostic lines, which otherwise
                    also go to standard output
  --no-input        do not read standard input: run until SIGINT or SIGTERM
                    (a joined participant then only shows what it receives)
  --no-announce     with --serve: do not announce the chat on the network
  --history N       with --serve: keep the last N public lines, 0 to 200
                    (default 200), for those who join later; 0 keeps none
  --encrypted-only  with --serve: refuse connections that do not begin with
                    TLS (peers that speak only the plain protocol)
  --max-per-address N
                    with --serve: watched connections one IPv4 address may
                    hold, 1-64 (default 8); this machine's own (127.0.0.0/8)
                    are not counted
  --connect-rate N  with --serve: new connections one IPv4 address may open
                    each second, this machine's own included (default 32,
                    and 64 at once); a connection past that is closed as
                    soon as it is accepted
  --accept-new-key  join a host whose key is not the one remembered for it
                    (or announced), and remember the new one
  --password-file F the chat's password is the first line of file F: given
                    to the host inside TLS (never in plain text); with
                    --serve, the password a host asks of everyone who joins,
                    which also refuses plain connections
  --data-dir DIR    absolute folder for the host key and known-hosts
                    (default $XDG_DATA_HOME/jaselo); the service uses its
                    state directory
  --share FILE      once joined, share FILE with everyone (inside TLS only)
  --to NICK         with --share: share it with NICK alone
  --fetch URL       download a shared file and exit
  --out FILE        with --fetch: where it goes (default: its name, here)
  --no-sharing      with --serve: keep no shared files
  --share-largest MIB, --share-total MIB, --share-hours H
                    with --serve: the largest file taken (default 2048),
                    the room for all of them (default 4096), how long each
                    is kept (default 24)
  --find [SECONDS]  list the chats announced on the network (default 3 s)
  --help            this text
  --version         the version
  Options that take a value also accept --option=VALUE.

Output, one line per item, flushed at once:
  LISTENING <port>
      --serve only, always the first line: the port it listens on.
  ENCRYPTED key=<hex>
      the first line of every connection made (with --serve: the second
      line): TLS protects it, and <hex> is the chat's key, the SHA-256 of the
      host's certificate in 64 upper-case hex digits. People compare its
      first 16 digits, in groups of four ("3F2A 9C01 77B4 E0D2").
  PLAIN
      instead of ENCRYPTED: the host speaks no TLS, so the connection is not
      encrypted (with --serve: the host has no key and serves plain text)
  KEY_CHANGED address=<a.b.c.d> port=<n> old=<hex> new=<hex>
      the host's key is not the one remembered for it (old: 64 digits) or
      announced (16 digits): nothing was sent to it, exit 3; line=<n> in
      place of old=<hex> when that line of known-hosts names the host but
      cannot be read
  KNOWN_HOSTS_UNREADABLE path=<file> reason=<s>
      known-hosts cannot be read, so no host's key can be checked: nothing
      was sent, exit 3
  WRONG_PASSWORD
      the host wants a password and was given none, or another, or refuses
      this address for a while after too many wrong ones: nobody heard of
      this participant, and it exits 3 (also with --rejoin)
  REMOVED
      the host showed this participant out: without --rejoin, or when the
      host keeps it out until it stops, it exits 3; with --rejoin it tries
      again only once the host lets its address in again
  WEB url=<url>
      --serve only, after the ENCRYPTED or PLAIN line, one per IPv4 address
      of this machine (loopback only when there is no other): the page a
      browser joins the chat from, such as https://192.0.2.10:27015/
      (http:// when the host has no key)
  SAYS name=<s> text=<s> face=<s> color=<R>,<G>,<B> bold=<n> italic=<n> underline=<n>
      a public chat line (your own come back too, once the server relays them)
  PRIVATE name=<s> text=<s> face=<s> color=<R>,<G>,<B> bold=<n> italic=<n> underline=<n>
      a private chat line addressed to you
  UNRELAYED name=<s> text=<s> face=<s> color=<R>,<G>,<B> bold=<n> italic=<n> underline=<n>
      an unrelayed chat line (a server never forwards these)
  PRESENT name=<s> since=<time> host=<0|1>
      on joining a host that shares who is there, first of all: one line
      per person present, you included, with the time the host took them
      in; host=1 for the host's own user. Again after each rejoin
  PEOPLE count=<n>
      right after the PRESENT lines: how many people are present
  EARLIER at=<time> name=<s> text=<s> face=<s> color=<R>,<G>,<B> bold=<n> italic=<n> underline=<n>
      after PEOPLE, before any live line: a public line said before you
      joined, with the time the host relayed it, oldest first
  JOINED name=<s>
      somebody joined after you
  DISCONNECTED name=<s>
      somebody left; name="!!! SERVER !!!" when the server shuts down
  SHARED url=<url> sha256=<hex>
      --share only: the file is with the host, and its chat line was sent
  FILE from=<s> name=<s> size=<n> type=<s> url=<url> sha256=<hex> [private] [picture]
      a file shared with everyone, or (private) with you alone
  FETCHED path=<file> sha256=<hex>
      --fetch only: the file arrived whole and checked
  CHAT name=<s> nick=<s> address=<a.b.c.d> port=<n> [people=<n>] encrypted=<0|1> key=<k>
      --find only: a chat announced on the network, its IPv4 address and
      TCP port (join it with --host and --port); nick is the host's nickname;
      people, when the host gives it, how many are in the chat; encrypted=1
      when it announces TLS, with its short key (16 hex digits, - when
      none). Names are cut to 63 bytes and nicknames to 31; lines come in
      the order people expect of names ("room 2" before "room 10"), then by
      address and port
  LOST
      the connection to the server ended without this participant leaving
      (server gone, or nickname already in use); the program then exits 3,
      unless --rejoin is given
  RESTORED
      --rejoin only: a try to join again has been taken in (it stood for a
      second, or something came from the server); lines are sent again.
      Lines read while out of the chat are not sent
  REFUSED
      --rejoin only: the server ended the connection right after the welcome,
      before anything came from it (nickname already in the chat, in any
      letter case, or the server is full); nothing more is tried, exit 3.
      Also, with or without --rejoin, when an encrypted host says it turns
      the connection away for a while (the chat is full, too many
      connections from this address, or too fast), with the reason on
      standard error: without --rejoin it exits 3, with it tries again
      once the host said it may

  <s> is a string in double quotes, shown up to its first NUL byte, with
  these escapes: \\ for a backslash, \" for a double quote, \n \r \t,
  \xHH (two lower-case hex digits) for any other byte below 0x20 and for
  0x7F, and \uHHHH (four lower-case hex digits) for a C1 control
  character, a bidirectional control (U+061C, U+200E, U+200F, U+202A to
  U+202E, U+2066 to U+2069) and U+2028, U+2029, so that no value can turn
  around or run over what stands beside it. Other bytes, UTF-8 included,
  stand as they are. <n>, <R>, <G>, <B> are the received decimal values.
  <time> is a UTC time on the host's clock, as 2024-06-11T09:05:00Z.
  Fields always come in the order shown.
  Unless --quiet is given, diagnostic lines of the library are mixed in;
  none of them begins with one of the words above.

Exit status: 0 after a normal end; 1 when it cannot connect or listen, or
a fetched file did not arrive whole and checked; 2
for a usage mistake, or a host asked for a password or --encrypted-only that
has no key (or cannot read its password file), or whose key file others may
read; 3 when the connection to the server was lost (with --rejoin: refused,
or input ended while out of the chat), or the host was refused for its key:
KEY_CHANGED, a host met with a key that now offers no encryption, or
KNOWN_HOSTS_UNREADABLE; or the host refused the password (WRONG_PASSWORD).
)";
}
