#pragma once
// The name a shared file is shown and saved under, cleaned as nicknames are:
// no folder part, no control or bidirectional-control characters, at most 255
// bytes of whole UTF-8 characters. The sharer's name never names a file on
// the host's disk.

#include <string>
#include <string_view>

inline constexpr size_t SHARED_NAME_BYTES = 255;

// "file" when nothing is left.
std::string CleanSharedName(std::string_view name);
