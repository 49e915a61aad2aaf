#pragma once
// What a request to the host's file door asks, and the header values its
// answers carry. Every value comes from a peer: each is checked here before
// anything looks it up or writes it to a file or a header.
//
//   PUT /files/<name>?ticket=<32 hex>&sha256=<64 hex>   an upload, its body the file
//   GET or HEAD /files/<id>/<name>                      a kept file (the name is for the
//                                                       browser's sake and not looked at)

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

struct FileRequest {
  enum class Kind { Fetch, Upload, Bad };
  Kind kind = Kind::Bad;
  bool head = false;   // a HEAD: the answer's headers alone
  std::string id;      // Fetch
  std::string name;    // Upload, cleaned
  std::string ticket;  // Upload
  std::string sha256;  // Upload, lower-case
};

FileRequest ReadFileRequest(std::string_view method, std::string_view target);

// Where a kept file is fetched: "/files/<id>/<name, percent-encoded>".
std::string SharedFilePath(std::string_view id, std::string_view name);

// %XX sequences decoded (and '+' left as it is); false for a broken one.
bool PercentDecode(std::string_view in, std::string& out);
// Every byte but unreserved characters as %XX.
std::string PercentEncode(std::string_view in);

// "attachment" (or "inline") with the name as RFC 6266 gives it: a plain
// ASCII fallback and the UTF-8 name percent-encoded.
std::string ContentDisposition(std::string_view name, bool inlined);

// The bytes a Range header asks of a file of `size` bytes: `first` and
// `last` inclusive. Whole when there is no header, or one this door does not
// read (several ranges, another unit): the whole file is sent then.
enum class RangeAsked { Whole, Part, Unsatisfiable };
RangeAsked ReadRange(std::string_view header, uint64_t size, uint64_t& first, uint64_t& last);

// The media type of a picture a browser may show, from the file's first
// bytes: PNG, JPEG, GIF and WebP alone; empty for anything else.
std::string PictureType(const uint8_t* bytes, size_t n);
// Whether `type` is one of the media types PictureType gives.
bool IsPictureType(std::string_view type);
