#pragma once
// The record in which one chat message reaches the window, and in which the
// window hands an outgoing line to the senders.

#include <cstddef>
#include <cstdint>
#include <memory>

// One owned string of an event. Whatever bytes it is given, it holds them
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

struct ChatEvent {
  EventString Name;
  EventString Text;
  EventString Police;
  uint16_t TextLength = 0;
  uint16_t NameLength = 0;
  uint16_t PoliceLength = 0;
  uint16_t Red = 0;
  uint16_t Green = 0;
  uint16_t Blue = 0;
  uint16_t Bold = 0;
  uint16_t Italic = 0;
  uint16_t Underline = 0;
  uint16_t Type = 0;
};
