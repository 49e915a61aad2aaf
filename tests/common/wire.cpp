#include "common/wire.h"

namespace {
ChatLine Line(const std::string& name, const std::string& text) {
  ChatLine line;
  line.SetName(name);
  line.SetPolice("Arial");
  line.SetText(text);
  return line;
}
}  // namespace

CPacket Welcome(const std::string& name) {
  CPacket p;
  BuildClientWelcome(name.c_str(), static_cast<uint16_t>(name.size() + 1), p);
  return p;
}

CPacket Arrival(const std::string& name) {
  CPacket p;
  BuildArrivalNotice(name.c_str(), p);
  return p;
}

CPacket Departure(const std::string& name) {
  CPacket p;
  BuildDisconnected(name.c_str(), p);
  return p;
}

CPacket Says(const ChatLine& line) {
  CPacket p;
  BuildSays(line, p);
  return p;
}

CPacket Says(const std::string& name, const std::string& text) { return Says(Line(name, text)); }

CPacket Private(const std::string& to, const std::string& name, const std::string& text) {
  CPacket p;
  BuildPrivate(to.c_str(), Line(name, text), p);
  return p;
}

CPacket Unrelayed(const std::string& name, const std::string& text) {
  CPacket p;
  BuildUnrelayed(Line(name, text), p);
  return p;
}

Bytes Whole(const CPacket& p) { return Bytes(p.data, p.data + p.length); }

std::string WireText(const CPacket& p) { return std::string(reinterpret_cast<const char*>(p.data), p.length); }

Bytes Payload(const CPacket& p) { return Bytes(p.data + 2, p.data + p.length); }
