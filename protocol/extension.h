#pragma once
// Our own messages, beside the chat's: blocks under HEADER_RESERVED, which a
// peer that does not know them consumes without a trace. A client asks for
// them with HELLO; a host sends them only to connections that asked.
//
// Every block, in the usual little-endian 16-bit fields:
//   HEADER_RESERVED, EXTENSION_TAG, Length (of the whole block, from its
//   first byte), Version, Kind, then the kind's fields.
// The length lets a receiver cut the block from a byte stream like any other
// message. A block of a higher version or of a kind the receiver does not
// know is skipped whole; fields behind those a kind defines are ignored, so a
// later version may append fields without breaking older receivers.
//
// HELLO (client to host): Understands, the kinds it takes (UNDERSTANDS_*);
//   then, sent inside TLS only, PasswordLength and Password (with its NUL),
//   the chat's password the user gave (empty without one); then, inside
//   TLS, PassLength and Pass (with its NUL): a pass this host gave before, or
//   the one the host gives its own client (empty for none).
// PEOPLE (host to client): Flags (PEOPLE_FIRST, PEOPLE_LAST), Count, then
//   Count times: NameLength, Name (with its NUL), Since (32 bits: when the
//   person was identified, UTC seconds on the host's clock), PersonFlags.
//   A list too long for one block continues in the next ones; the first
//   block starts a new list, the last one says it is whole.
// EARLIER (host to client): At (32 bits: when the host relayed the line, UTC
//   seconds), Left (earlier lines still to come after this one), then the
//   chat line exactly as it was relayed.
// REFUSED (host to client, inside TLS, before the host closes a connection
//   it does not take in, or one the host's user shows out): Reason
//   (REFUSED_*); from REFUSED_REMOVED on then Seconds (32 bits), how long
//   the address is kept out (KEPT_OUT_UNTIL_STOP: until the host stops; 0:
//   no time is said).
// TICKET (host to client, to a HELLO that understands FILES, from a host that
//   keeps shared files): Ticket, 32 hex digits with their NUL. An upload to
//   the host's file door names it; it is good while this connection lasts,
//   from this connection's address alone.
// FILE (client to host, then host to those who understand FILES): a shared
//   file's details beside the ordinary chat line that announces it. Flags
//   (FILE_PRIVATE), SizeLow and SizeHigh (32 bits each), then counted
//   strings: Id (the host's 32 hex digits), Sha256 (64 hex digits), Name,
//   Type (a media type, or empty), From (the sharer's nickname), To (the one
//   it is for; empty when for everyone). FILE_PICTURE: a small picture of it
//   follows in PICTURE blocks.
// PICTURE (client to host, then host to those who got the FILE): one part
//   of a shared picture's small view, a PNG or a JPEG of at most
//   PICTURE_LARGEST bytes, sent behind its FILE. Id (counted, the file's),
//   Part, Parts, then Length and the part's bytes; the parts come in order.

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/chatline.h"
#include "protocol/decodepacket.h"
#include "protocol/packet.h"

constexpr uint16_t EXTENSION_TAG = 0x584A;  // "JX" on the wire
constexpr uint16_t EXTENSION_VERSION = 1;
// Transport header, tag and length: enough to cut a block.
constexpr uint16_t EXTENSION_FRAME_SIZE = 6;
// The frame with version and kind.
constexpr uint16_t EXTENSION_HEADER_SIZE = 10;

enum ExtensionKind : uint16_t {
  EXT_HELLO = 1,
  EXT_PEOPLE = 2,
  EXT_EARLIER = 3,
  EXT_REFUSED = 4,
  EXT_PASS = 5,
  EXT_TICKET = 6,
  EXT_FILE = 7,
  EXT_PICTURE = 8,
};

enum RefusalReason : uint16_t {
  REFUSED_WRONG_PASSWORD = 1,  // the chat has a password: none given, or another
  REFUSED_TOO_MANY_TRIES = 2,  // too many wrong passwords from this address (older hosts; now PASSWORD_WAIT)
  REFUSED_REMOVED = 3,         // the host's user removed this participant and keeps the address out a while
  REFUSED_CHAT_FULL = 4,       // every seat is taken
  REFUSED_ADDRESS_FULL = 5,    // this address holds its share of the seats
  REFUSED_TOO_FAST = 6,        // this address connects too fast: try again in Seconds
  REFUSED_PASSWORD_WAIT = 7,   // wrong passwords came from this address: the next is looked at in Seconds
};
constexpr uint32_t KEPT_OUT_UNTIL_STOP = 0xFFFFFFFF;

constexpr uint16_t UNDERSTANDS_PEOPLE = 1;
constexpr uint16_t UNDERSTANDS_EARLIER = 2;
constexpr uint16_t UNDERSTANDS_PASS = 4;
constexpr uint16_t UNDERSTANDS_FILES = 8;

constexpr uint16_t FILE_PRIVATE = 1;
constexpr uint16_t FILE_PICTURE = 2;

// A shared picture's small view, and the parts it travels in.
constexpr size_t PICTURE_LARGEST = 16384;
constexpr uint16_t PICTURE_PART_BYTES = 900;
constexpr uint16_t PICTURE_MOST_PARTS = (PICTURE_LARGEST + PICTURE_PART_BYTES - 1) / PICTURE_PART_BYTES;

constexpr uint16_t PEOPLE_FIRST = 1;
constexpr uint16_t PEOPLE_LAST = 2;

constexpr uint16_t PERSON_HOST = 1;   // the host's own user
constexpr uint16_t PERSON_ASKED = 2;  // sent HELLO

// The longest chat line an EARLIER block carries.
constexpr uint16_t EARLIER_LINE_CAPACITY = PACKET_CAPACITY - EXTENSION_HEADER_SIZE - 6;

struct Person {
  std::string name;  // without its NUL
  uint32_t since = 0;
  uint16_t flags = 0;
};

struct PeopleBlock {
  uint16_t flags = 0;
  std::vector<Person> people;
};

struct EarlierLine {
  uint32_t at = 0;
  uint16_t left = 0;
  ChatLine line;
};

struct SharedFile {
  uint16_t flags = 0;
  uint64_t size = 0;
  std::string id;
  std::string sha256;
  std::string name;
  std::string type;
  std::string from;
  std::string to;
};

struct PicturePart {
  std::string id;
  uint16_t part = 0;
  uint16_t parts = 0;
  std::string bytes;
};

// A received block opened: its kind, and a decoder over its fields alone.
struct ExtensionBlock {
  uint16_t kind = 0;
  CDecodePacket fields;
};

// Opens a whole block (transport header first). False for anything that is
// not one of ours of a version this side reads, or whose length is not the
// block's: such a block is skipped.
bool OpenExtension(const uint8_t* block, uint16_t n, ExtensionBlock& out);

// A password and a pass go with a HELLO sent inside TLS alone.
bool BuildHello(uint16_t understands, const std::string& password, CPacket& out, const std::string& pass = "");
bool BuildPass(const std::string& pass, CPacket& out);
// `seconds` goes with REFUSED_REMOVED and the reasons after it alone.
bool BuildRefused(uint16_t reason, CPacket& out, uint32_t seconds = 0);
// As many blocks as the list needs, the first marked PEOPLE_FIRST and the
// last PEOPLE_LAST (one block may be both). A person whose name could never
// fit a block is left out.
std::vector<CPacket> BuildPeople(const std::vector<Person>& people);
// False when the line is too long for a block (EARLIER_LINE_CAPACITY).
bool BuildEarlier(uint32_t at, uint16_t left, const uint8_t* chatLine, uint16_t n, CPacket& out);

bool BuildTicket(const std::string& ticket, CPacket& out);
// False when the details do not fit one block.
bool BuildFile(const SharedFile& file, CPacket& out);
// The blocks of a small picture, in order; none when it is empty or larger
// than PICTURE_LARGEST.
std::vector<CPacket> BuildPicture(const std::string& id, const std::string& picture);

// Readers take the decoder of an opened block; fields missing at the end of
// a block fail the read, fields beyond those known are left unread.
// A HELLO without a password field (one sent in plain text, or by an earlier
// client) gives an empty password.
// `pass`, where asked for, is empty when the block has none.
bool ReadHello(CDecodePacket& fields, uint16_t& understands, std::string& password, std::string* pass = nullptr);
bool ReadPass(CDecodePacket& fields, std::string& pass);
// `seconds` is 0 where the block has none.
bool ReadRefused(CDecodePacket& fields, uint16_t& reason, uint32_t& seconds);
bool ReadPeople(CDecodePacket& fields, PeopleBlock& out);
bool ReadEarlier(CDecodePacket& fields, EarlierLine& out);
bool ReadTicket(CDecodePacket& fields, std::string& ticket);
bool ReadFile(CDecodePacket& fields, SharedFile& out);
// False unless Part < Parts <= PICTURE_MOST_PARTS and the part's bytes are
// at most PICTURE_PART_BYTES.
bool ReadPicturePart(CDecodePacket& fields, PicturePart& out);
