#include "protocol/extension.h"

#include "protocol/encodepacket.h"
#include "protocol/headers.h"
#include "protocol/messages.h"

namespace {
// Flags and Count of a PEOPLE block.
constexpr size_t PEOPLE_HEAD = 4;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// The frame of a block of `kind`; its length is filled in by Finish.
void Begin(CEncodePacket& e, uint16_t kind) {
  for (const uint16_t v : {HEADER_RESERVED, EXTENSION_TAG, uint16_t{0}, EXTENSION_VERSION, kind}) e.AddValue(v, 2);
}

bool Finish(CEncodePacket& e, bool ok, CPacket& out) {
  e.data[4] = static_cast<uint8_t>(e.length & 0xFF);
  e.data[5] = static_cast<uint8_t>(e.length >> 8);
  e.GetPacket(out);
  return ok;
}

// Bytes one person takes in a PEOPLE block.
size_t EntrySize(const Person& p) { return 2 + p.name.size() + 1 + 4 + 2; }

bool AddPerson(CEncodePacket& e, const Person& p) {
  bool ok = AddCountedString(e, p.name);
  ok = e.AddValue(static_cast<int32_t>(p.since), 4) && ok;
  return e.AddValue(p.flags, 2) && ok;
}

// A value that begins inside the data may run past it; it is not a field then.
bool Within(const CDecodePacket& d) { return d.cursor <= d.length; }

bool ReadLong(CDecodePacket& d, uint32_t& value) { return d.GetLongValue(value) && Within(d); }
bool ReadShort(CDecodePacket& d, uint16_t& value) { return d.GetShortValue(value) && Within(d); }
}  // namespace

bool OpenExtension(const uint8_t* block, uint16_t n, ExtensionBlock& out) {
  if (block == nullptr || n < EXTENSION_HEADER_SIZE || n > PACKET_CAPACITY) return false;
  const uint16_t length = Le16(block + 4);
  if (Le16(block) != HEADER_RESERVED || Le16(block + 2) != EXTENSION_TAG) return false;
  if (length < EXTENSION_HEADER_SIZE || length > n) return false;
  const uint16_t version = Le16(block + 6);
  if (version == 0 || version > EXTENSION_VERSION) return false;
  out.kind = Le16(block + 8);
  out.fields = CDecodePacket();
  CPacket fields;
  if (length > EXTENSION_HEADER_SIZE) {
    fields.SetData(block + EXTENSION_HEADER_SIZE, static_cast<uint16_t>(length - EXTENSION_HEADER_SIZE));
    out.fields.Initialize(fields);
  }
  return true;
}

bool BuildHello(uint16_t understands, const std::string& password, CPacket& out, const std::string& pass) {
  CEncodePacket e;
  Begin(e, EXT_HELLO);
  bool ok = e.AddValue(understands, 2);
  // The pass comes behind the password, which is then written even empty.
  if (!password.empty() || !pass.empty()) ok = AddCountedString(e, password) && ok;
  if (!pass.empty()) ok = AddCountedString(e, pass) && ok;
  return Finish(e, ok, out);
}

bool BuildPass(const std::string& pass, CPacket& out) {
  CEncodePacket e;
  Begin(e, EXT_PASS);
  return Finish(e, AddCountedString(e, pass), out);
}

bool BuildRefused(uint16_t reason, CPacket& out, uint32_t seconds) {
  CEncodePacket e;
  Begin(e, EXT_REFUSED);
  const bool added =
      e.AddValue(reason, 2) && (reason < REFUSED_REMOVED || e.AddValue(static_cast<int32_t>(seconds), 4));
  return Finish(e, added, out);
}

std::vector<CPacket> BuildPeople(const std::vector<Person>& people) {
  constexpr size_t room = PACKET_CAPACITY - EXTENSION_HEADER_SIZE - PEOPLE_HEAD;
  std::vector<std::vector<const Person*>> blocks(1);
  size_t used = 0;
  for (const Person& p : people) {
    const size_t size = EntrySize(p);
    if (size > room) continue;
    if (used + size > room) {
      blocks.emplace_back();
      used = 0;
    }
    blocks.back().push_back(&p);
    used += size;
  }
  std::vector<CPacket> out(blocks.size());
  for (size_t i = 0; i < blocks.size(); ++i) {
    CEncodePacket e;
    Begin(e, EXT_PEOPLE);
    const uint16_t flags = (i == 0 ? PEOPLE_FIRST : 0) | (i + 1 == blocks.size() ? PEOPLE_LAST : 0);
    e.AddValue(flags, 2);
    e.AddValue(static_cast<int32_t>(blocks[i].size()), 2);
    for (const Person* p : blocks[i]) AddPerson(e, *p);
    Finish(e, true, out[i]);
  }
  return out;
}

bool BuildEarlier(uint32_t at, uint16_t left, const uint8_t* chatLine, uint16_t n, CPacket& out) {
  if (chatLine == nullptr || n > EARLIER_LINE_CAPACITY) return false;
  CEncodePacket e;
  Begin(e, EXT_EARLIER);
  bool ok = e.AddValue(static_cast<int32_t>(at), 4) && e.AddValue(left, 2);
  ok = e.AddString(chatLine, n) && ok;
  return Finish(e, ok, out);
}

bool ReadHello(CDecodePacket& fields, uint16_t& understands, std::string& password, std::string* pass) {
  password.clear();
  if (pass != nullptr) pass->clear();
  if (!fields.initialized || !ReadShort(fields, understands)) return false;
  // Nothing that reads as a password behind Understands: none was given,
  // which a chat with a password refuses.
  if (fields.cursor >= fields.length || !ReadCountedString(fields, password)) {
    password.clear();
    return true;
  }
  password = std::string(password.c_str());
  if (pass != nullptr && fields.cursor < fields.length && ReadCountedString(fields, *pass)) {
    *pass = std::string(pass->c_str());
  }
  return true;
}

bool ReadPass(CDecodePacket& fields, std::string& pass) {
  if (!fields.initialized || !ReadCountedString(fields, pass)) return false;
  pass = std::string(pass.c_str());
  return !pass.empty();
}

bool ReadRefused(CDecodePacket& fields, uint16_t& reason, uint32_t& seconds) {
  seconds = 0;
  if (!fields.initialized || !ReadShort(fields, reason)) return false;
  if (reason >= REFUSED_REMOVED && !ReadLong(fields, seconds)) seconds = 0;
  return true;
}

bool ReadPeople(CDecodePacket& fields, PeopleBlock& out) {
  PeopleBlock block;
  uint16_t count = 0;
  if (!fields.initialized || !ReadShort(fields, block.flags) || !ReadShort(fields, count)) return false;
  for (uint16_t i = 0; i < count; ++i) {
    Person p;
    if (!ReadCountedString(fields, p.name) || !ReadLong(fields, p.since) || !ReadShort(fields, p.flags)) return false;
    // A name is its bytes up to the NUL the count includes.
    p.name = std::string(p.name.c_str());
    block.people.push_back(std::move(p));
  }
  out = std::move(block);
  return true;
}

bool ReadEarlier(CDecodePacket& fields, EarlierLine& out) {
  EarlierLine e;
  if (!fields.initialized || !ReadLong(fields, e.at) || !ReadShort(fields, e.left)) return false;
  if (!ReadChatLine(fields, e.line)) return false;
  out = std::move(e);
  return true;
}

bool BuildTicket(const std::string& ticket, CPacket& out) {
  CEncodePacket e;
  Begin(e, EXT_TICKET);
  return Finish(e, AddCountedString(e, ticket), out);
}

bool BuildFile(const SharedFile& file, CPacket& out) {
  CEncodePacket e;
  Begin(e, EXT_FILE);
  bool ok = e.AddValue(file.flags, 2);
  ok = e.AddValue(static_cast<int32_t>(file.size & 0xFFFFFFFF), 4) && ok;
  ok = e.AddValue(static_cast<int32_t>(file.size >> 32), 4) && ok;
  for (const std::string* text : {&file.id, &file.sha256, &file.name, &file.type, &file.from, &file.to}) {
    ok = AddCountedString(e, *text) && ok;
  }
  return Finish(e, ok, out);
}

bool ReadTicket(CDecodePacket& fields, std::string& ticket) {
  if (!fields.initialized || !ReadCountedString(fields, ticket)) return false;
  ticket = std::string(ticket.c_str());
  return !ticket.empty();
}

bool ReadFile(CDecodePacket& fields, SharedFile& out) {
  SharedFile f;
  uint32_t low = 0, high = 0;
  if (!fields.initialized || !ReadShort(fields, f.flags) || !ReadLong(fields, low) || !ReadLong(fields, high)) {
    return false;
  }
  f.size = (uint64_t{high} << 32) | low;
  for (std::string* text : {&f.id, &f.sha256, &f.name, &f.type, &f.from, &f.to}) {
    if (!ReadCountedString(fields, *text)) return false;
    *text = std::string(text->c_str());
  }
  out = std::move(f);
  return true;
}

std::vector<CPacket> BuildPicture(const std::string& id, const std::string& picture) {
  std::vector<CPacket> blocks;
  if (picture.empty() || picture.size() > PICTURE_LARGEST) return blocks;
  const auto parts = static_cast<uint16_t>((picture.size() + PICTURE_PART_BYTES - 1) / PICTURE_PART_BYTES);
  for (uint16_t part = 0; part < parts; ++part) {
    const std::string_view bytes =
        std::string_view(picture).substr(size_t{part} * PICTURE_PART_BYTES, PICTURE_PART_BYTES);
    CEncodePacket e;
    Begin(e, EXT_PICTURE);
    bool ok = AddCountedString(e, id) && e.AddValue(part, 2) && e.AddValue(parts, 2);
    ok = ok && e.AddValue(static_cast<uint16_t>(bytes.size()), 2) &&
         e.AddString(bytes.data(), static_cast<uint16_t>(bytes.size()));
    CPacket block;
    if (!Finish(e, ok, block)) return {};
    blocks.push_back(block);
  }
  return blocks;
}

bool ReadPicturePart(CDecodePacket& fields, PicturePart& out) {
  PicturePart p;
  uint16_t n = 0;
  if (!fields.initialized || !ReadCountedString(fields, p.id) || !ReadShort(fields, p.part) ||
      !ReadShort(fields, p.parts) || !ReadShort(fields, n)) {
    return false;
  }
  p.id = std::string(p.id.c_str());
  if (p.part >= p.parts || p.parts > PICTURE_MOST_PARTS || n == 0 || n > PICTURE_PART_BYTES) return false;
  p.bytes.resize(n);
  if (!fields.GetString(p.bytes.data(), n) || !Within(fields)) return false;
  out = std::move(p);
  return true;
}
