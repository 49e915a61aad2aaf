#pragma once
// The window's record of a character format. Applying one changes only the
// attributes named in its Mask; every other attribute of the text stays.

#include <cstdint>

// Attributes a CharFormat may carry.
constexpr uint32_t CFM_FACE = 1u << 0;
constexpr uint32_t CFM_COLOR = 1u << 1;
constexpr uint32_t CFM_HEIGHT = 1u << 2;
constexpr uint32_t CFM_BOLD = 1u << 3;
constexpr uint32_t CFM_ITALIC = 1u << 4;
constexpr uint32_t CFM_UNDERLINE = 1u << 5;

// Effect bits.
constexpr uint32_t CFE_BOLD = 1u << 0;
constexpr uint32_t CFE_ITALIC = 1u << 1;
constexpr uint32_t CFE_UNDERLINE = 1u << 2;

struct CharFormat {
  uint32_t Mask = 0;
  uint32_t Effects = 0;
  int32_t Height = 0;  // twips, 1/20 point
  uint32_t Color = 0;  // red in the lowest byte, then green, then blue
  char FaceName[32] = {};
};

// Builds a colour value from its three components, keeping the low byte of each.
constexpr uint32_t MakeColor(uint32_t red, uint32_t green, uint32_t blue) {
  return (red & 0xFF) | ((green & 0xFF) << 8) | ((blue & 0xFF) << 16);
}
constexpr uint8_t ColorRed(uint32_t color) { return color & 0xFF; }
constexpr uint8_t ColorGreen(uint32_t color) { return (color >> 8) & 0xFF; }
constexpr uint8_t ColorBlue(uint32_t color) { return (color >> 16) & 0xFF; }

// Copies a face name, cut to what fits (31 bytes) without splitting a UTF-8 character.
void SetFaceName(CharFormat& format, const char* face);
