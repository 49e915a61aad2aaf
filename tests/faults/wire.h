#pragma once
// Wire bytes for the raw peers, built with the project's own builders.

#include <string>

#include "protocol/messages.h"

inline std::string WireText(const CPacket& p) { return std::string(reinterpret_cast<const char*>(p.data), p.length); }

inline std::string Welcome(const std::string& name) {
  CPacket p;
  BuildClientWelcome(name.c_str(), static_cast<uint16_t>(name.size() + 1), p);
  return WireText(p);
}

inline ChatLine Line(const std::string& name, const std::string& text) {
  ChatLine v;
  v.SetName(name);
  v.SetPolice("Arial");
  v.SetText(text);
  return v;
}

inline std::string Says(const std::string& name, const std::string& text) {
  CPacket p;
  BuildSays(Line(name, text), p);
  return WireText(p);
}

inline std::string Departure(const std::string& name) {
  CPacket p;
  BuildDisconnected(name.c_str(), p);
  return WireText(p);
}

inline std::string Private(const std::string& to, const std::string& name, const std::string& text) {
  CPacket p;
  BuildPrivate(to.c_str(), Line(name, text), p);
  return WireText(p);
}

inline std::string Unrelayed(const std::string& name, const std::string& text) {
  CPacket p;
  BuildUnrelayed(Line(name, text), p);
  return WireText(p);
}
