#include "protocol/messages.h"

#include <cstring>

namespace {
uint16_t CountWithNul(const char* text) {
  if (text == nullptr) return 0;
  const size_t n = TerminatedLength(text, PACKET_CAPACITY);
  return n > PACKET_CAPACITY ? 0 : static_cast<uint16_t>(n);
}

bool AddCounted(CEncodePacket& e, const char* text, uint16_t count) {
  // A string longer than the capacity cannot fit; its count of 0 must not be
  // read by AddString as "measure it yourself".
  if (text == nullptr || count == 0) return false;
  const bool counted = e.AddValue(count, 2);
  return e.AddString(text, count) && counted;
}

bool AddChatLine(CEncodePacket& e, const ChatLine& line) {
  bool ok = AddCounted(e, line.Name.get(), line.NameLength);
  ok = AddCounted(e, line.Police.get(), line.PoliceLength) && ok;
  ok = AddCounted(e, line.Text.get(), line.TextLength) && ok;
  for (uint16_t v : {line.Bold, line.Italic, line.Underline, line.Red, line.Green, line.Blue}) {
    ok = e.AddValue(v, 2) && ok;
  }
  return ok;
}

// A 16-bit count and that many bytes. The decoder never reads past its
// array, so the bytes always fit.
bool ReadCounted(CDecodePacket& decoder, char (&bytes)[PACKET_CAPACITY], uint16_t& count) {
  // The decoder completes a read that runs past the data; a field that is not
  // all there is not a field.
  return decoder.GetShortValue(count) && decoder.GetString(bytes, count) && decoder.cursor <= decoder.length;
}

// A counted string kept with its declared length.
bool ReadLineString(CDecodePacket& decoder, EventString& out, uint16_t& length) {
  char bytes[PACKET_CAPACITY];
  if (!ReadCounted(decoder, bytes, length)) return false;
  out.Assign(bytes, length);
  return true;
}

bool Finish(const CEncodePacket& e, bool ok, CPacket& out) {
  e.GetPacket(out);
  return ok;
}

// An arrival or a departure: the two headers and the name.
bool BuildNameMessage(uint16_t header, uint16_t chatHeader, const char* name, CPacket& out) {
  CEncodePacket e;
  bool ok = e.AddValue(header, 2) && e.AddValue(chatHeader, 2);
  ok = AddCounted(e, name, CountWithNul(name)) && ok;
  return Finish(e, ok, out);
}

bool BuildChatLineMessage(uint16_t chatHeader, const ChatLine& line, CPacket& out) {
  CEncodePacket e;
  bool ok = e.AddValue(HEADER_CHAT, 2) && e.AddValue(chatHeader, 2);
  ok = AddChatLine(e, line) && ok;
  return Finish(e, ok, out);
}
}  // namespace

bool BuildClientWelcome(const char* nickname, uint16_t nicknameLength, CPacket& out) {
  CEncodePacket e;
  bool ok = e.AddValue(HEADER_WELCOME, 2);
  ok = AddCounted(e, nickname, nicknameLength) && ok;
  return Finish(e, ok, out);
}

bool BuildArrivalNotice(const char* nickname, CPacket& out) {
  return BuildNameMessage(HEADER_WELCOME, CHAT_JOINED, nickname, out);
}

bool BuildSays(const ChatLine& line, CPacket& out) { return BuildChatLineMessage(CHAT_SAYS, line, out); }

bool BuildUnrelayed(const ChatLine& line, CPacket& out) { return BuildChatLineMessage(CHAT_UNRELAYED, line, out); }

bool BuildPrivate(const char* addressee, const ChatLine& line, CPacket& out) {
  CEncodePacket e;
  bool ok = e.AddValue(HEADER_CHAT, 2) && e.AddValue(CHAT_PRIVATE, 2);
  ok = AddCounted(e, addressee, CountWithNul(addressee)) && ok;
  ok = AddChatLine(e, line) && ok;
  return Finish(e, ok, out);
}

bool BuildDisconnected(const char* name, CPacket& out) {
  return BuildNameMessage(HEADER_CHAT, CHAT_DISCONNECTED, name, out);
}

bool BuildRelay(const CPacket& payload, CPacket& out) {
  CEncodePacket e;
  const bool ok = e.SetBuffer(payload.data, payload.length) && e.PrependValue(HEADER_CHAT, 2);
  return Finish(e, ok, out);
}

bool AddCountedString(CEncodePacket& e, const std::string& text) {
  if (text.size() >= PACKET_CAPACITY) return false;
  return AddCounted(e, text.c_str(), static_cast<uint16_t>(text.size() + 1));
}

bool ReadCountedString(CDecodePacket& decoder, std::string& out) {
  char bytes[PACKET_CAPACITY];
  uint16_t count = 0;
  if (!ReadCounted(decoder, bytes, count)) return false;
  out.assign(bytes, count);
  return true;
}

bool ReadChatLine(CDecodePacket& decoder, ChatLine& out) {
  ChatLine f;
  bool ok = ReadLineString(decoder, f.Name, f.NameLength) && ReadLineString(decoder, f.Police, f.PoliceLength) &&
            ReadLineString(decoder, f.Text, f.TextLength);
  for (uint16_t* v : {&f.Bold, &f.Italic, &f.Underline, &f.Red, &f.Green, &f.Blue}) {
    ok = ok && decoder.GetShortValue(*v);
  }
  // A line whose last value runs past the data would be relayed shorter than
  // its layout, and no client could cut it from the stream.
  ok = ok && decoder.cursor <= decoder.length;
  if (ok) out = std::move(f);
  return ok;
}
