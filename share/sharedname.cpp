#include "share/sharedname.h"

#include <cstdint>

namespace {
// The length of the UTF-8 sequence at `s[i]`, and its code point; 0 for a
// byte that begins no valid sequence.
size_t Decode(std::string_view s, size_t i, uint32_t& cp) {
  const auto b = [&](size_t k) { return static_cast<uint8_t>(s[k]); };
  const uint8_t first = b(i);
  size_t n = first < 0x80 ? 1 : (first >> 5) == 0x6 ? 2 : (first >> 4) == 0xE ? 3 : (first >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || i + n > s.size()) return 0;
  cp = n == 1 ? first : first & (0x7F >> n);
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and values past Unicode are not characters.
  static constexpr uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < least[n] || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return 0;
  return n;
}

bool Hidden(uint32_t cp) {
  return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}
}  // namespace

std::string CleanSharedName(std::string_view name) {
  // Only the last part of a path is a name.
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string clean;
  for (size_t i = 0; i < name.size();) {
    uint32_t cp = 0;
    const size_t n = Decode(name, i, cp);
    if (n == 0) {
      ++i;  // a stray byte is dropped, not guessed at
      continue;
    }
    if (!Hidden(cp)) {
      if (clean.size() + n > SHARED_NAME_BYTES) break;
      clean.append(name.substr(i, n));
    }
    i += n;
  }
  // Blanks at the ends and names of folders say nothing.
  const size_t first = clean.find_first_not_of(' ');
  clean = first == std::string::npos ? "" : clean.substr(first, clean.find_last_not_of(' ') - first + 1);
  if (clean.empty() || clean == "." || clean == "..") return "file";
  return clean;
}
