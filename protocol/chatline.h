#pragma once
// The chat line common to CHAT_SAYS, CHAT_PRIVATE and CHAT_UNRELAYED: the one
// record a sender fills, the builders put on the wire, the readers give back
// and the window receives (as the base of its chat event).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// One owned string of a line. Whatever bytes it is given, it holds them
// followed by a NUL, so it is always safe to print as a terminated string.
class EventString {
 public:
  void Assign(const char* bytes, size_t n);
  void Reset() { bytes.reset(); }
  // Null while unset.
  const char* get() const { return bytes.get(); }

 private:
  std::unique_ptr<char[]> bytes;
};

// How a line is drawn, in the order the wire carries the values.
struct LineStyle {
  uint16_t Bold = 0;
  uint16_t Italic = 0;
  uint16_t Underline = 0;
  uint16_t Red = 0;
  uint16_t Green = 0;
  uint16_t Blue = 0;

  LineStyle& Style() { return *this; }
  const LineStyle& Style() const { return *this; }
  bool operator==(const LineStyle&) const = default;
};

// Each length is the declared one, which the builders copy from the string as
// stated: a sender's counts the NUL, a reader's is exactly the bytes received
// (the string then holds them, plus its own NUL).
struct ChatLine : LineStyle {
  EventString Name;
  EventString Text;
  EventString Police;
  uint16_t TextLength = 0;
  uint16_t NameLength = 0;
  uint16_t PoliceLength = 0;

  // As a sender states a string: its bytes, with a length that counts the NUL.
  void SetName(std::string_view bytes) { State(Name, NameLength, bytes); }
  void SetPolice(std::string_view bytes) { State(Police, PoliceLength, bytes); }
  void SetText(std::string_view bytes) { State(Text, TextLength, bytes); }
  // Lines do not compare by their style alone.
  bool operator==(const ChatLine&) const = delete;

 private:
  static void State(EventString& string, uint16_t& length, std::string_view bytes);
};
