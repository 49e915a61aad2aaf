#pragma once
// The page's files, compiled into the program: nothing a browser loads comes
// from anywhere else.

#include <span>
#include <string_view>

struct PageFile {
  std::string_view path;         // where it is served, "/" for the page itself
  std::string_view contentType;  // as the response states it
  std::string_view bytes;
};

std::span<const PageFile> PageFiles();
