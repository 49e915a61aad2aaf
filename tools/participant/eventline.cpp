#include "eventline.h"

#include <cstdio>
#include <ctime>

#include "protocol/extension.h"
#include "protocol/headers.h"
#include "protocol/utf8.h"

namespace {
// What the window would show: the string up to its first NUL.
std::string_view Shown(const EventString& s) { return s.get() ? std::string_view(s.get()) : std::string_view(); }

const char* TypeWord(uint16_t type) {
  switch (type) {
    case CHAT_SAYS: return "SAYS";
    case CHAT_PRIVATE: return "PRIVATE";
    case CHAT_JOINED: return "JOINED";
    case CHAT_DISCONNECTED: return "DISCONNECTED";
    case CHAT_UNRELAYED: return "UNRELAYED";
    case EVENT_EARLIER: return "EARLIER";
    default: return nullptr;
  }
}
}  // namespace

std::string UtcTime(uint32_t seconds) {
  const std::time_t t = seconds;
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

std::string QuoteValue(std::string_view bytes) {
  std::string out = "\"";
  while (!bytes.empty()) {
    const Utf8Char u = ReadUtf8Char(bytes);
    const char c = bytes[0];
    const auto b = static_cast<unsigned char>(c);
    if (u.wellFormed && u.codePoint >= 0x80 && IsUnsafeInName(u.codePoint)) {
      // A C1 control, a bidirectional control or a line separator would run
      // over or turn around what a terminal shows beside it.
      char escaped[12];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(u.codePoint));
      out += escaped;
      bytes.remove_prefix(u.length);
      continue;
    }
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (b < 0x20 || b == 0x7F) {
          char hex[5];
          std::snprintf(hex, sizeof hex, "\\x%02x", b);
          out += hex;
        } else {
          // Bytes from 0x80 up pass unchanged: UTF-8 text stays readable.
          out += c;
        }
    }
    bytes.remove_prefix(1);
  }
  out += '"';
  return out;
}

std::string FormatEvent(const ChatEvent& event) {
  if (event.Type == EVENT_PRESENT) {
    return "PRESENT name=" + QuoteValue(Shown(event.Name)) + " since=" + UtcTime(event.Time) +
           " host=" + ((event.Flags & PERSON_HOST) != 0 ? "1" : "0");
  }
  if (event.Type == EVENT_PEOPLE) return "PEOPLE count=" + std::to_string(event.Count);
  const char* word = TypeWord(event.Type);
  if (word == nullptr) return {};
  std::string line = word;
  if (event.Type == EVENT_EARLIER) line += " at=" + UtcTime(event.Time);
  line += " name=" + QuoteValue(Shown(event.Name));
  if (event.Type == CHAT_JOINED || event.Type == CHAT_DISCONNECTED) return line;
  char style[96];
  std::snprintf(style, sizeof style, " color=%u,%u,%u bold=%u italic=%u underline=%u", unsigned{event.Red},
                unsigned{event.Green}, unsigned{event.Blue}, unsigned{event.Bold}, unsigned{event.Italic},
                unsigned{event.Underline});
  line += " text=" + QuoteValue(Shown(event.Text)) + " face=" + QuoteValue(Shown(event.Police)) + style;
  return line;
}
