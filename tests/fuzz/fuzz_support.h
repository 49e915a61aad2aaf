#pragma once
// What the fuzz targets share. Each target is a plain function so that the
// same code runs under libFuzzer (fuzz build) and in the corpus replay test
// (every ordinary build, sanitizers included).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "protocol/diagnostics.h"
#include "protocol/headers.h"
#include "protocol/messages.h"

namespace fuzz {

int CodecTarget(const uint8_t* data, size_t size);
int ServerTarget(const uint8_t* data, size_t size);
int ClientTarget(const uint8_t* data, size_t size);
int ConfigTarget(const uint8_t* data, size_t size);
int WebTarget(const uint8_t* data, size_t size);

// A broken property is a finding: say which, then abort so that libFuzzer
// (or the replay test's death) keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)              \
  do {                                \
    if (!(cond)) ::fuzz::Fail(#cond); \
  } while (0)

// Diagnostic lines would cost more than the code under test.
inline void SilenceDiagnostics() {
  static const bool once = [] {
    SetDiagSink([](std::string_view) {});
    return true;
  }();
  (void)once;
}

// Nicknames compare without regard to ASCII letter case.
inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return s;
}

// What a host sent a client, read as far as the name it carries (for a
// private line the sender's, after the addressee), which must be there.
struct Named {
  uint16_t header = 0;
  uint16_t chatHeader = 0;
  std::string name;  // lower case, up to its NUL
};
inline Named ReadNamed(const uint8_t* message, size_t n) {
  CPacket packet;
  CDecodePacket d;
  Named named;
  FUZZ_CHECK(packet.SetData(message, static_cast<uint16_t>(n)) && d.Initialize(packet));
  FUZZ_CHECK(d.GetShortValue(named.header) && d.GetShortValue(named.chatHeader));
  if (named.chatHeader == CHAT_PRIVATE) FUZZ_CHECK(ReadCountedString(d, named.name));
  FUZZ_CHECK(ReadCountedString(d, named.name));
  named.name = Lower(named.name.c_str());
  return named;
}

// The stream and driving targets read their input as records: one control
// byte, a 16-bit little-endian length (cut to what is left and to `cap`),
// then that many bytes.
struct Record {
  uint8_t control = 0;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

class RecordReader {
 public:
  RecordReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Next(Record& record, size_t cap) {
    if (pos_ >= size_) return false;
    record.control = data_[pos_++];
    size_t length = 0;
    if (pos_ < size_) length = data_[pos_++];
    if (pos_ < size_) length |= static_cast<size_t>(data_[pos_++]) << 8;
    if (length > cap) length = cap;
    if (length > size_ - pos_) length = size_ - pos_;
    record.bytes = data_ + pos_;
    record.size = length;
    pos_ += length;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

}  // namespace fuzz

// In the fuzz build each target file becomes one libFuzzer binary.
#ifdef JASELO_LIBFUZZER
#define JASELO_FUZZ_ENTRY(target) \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return target(data, size); }
#else
#define JASELO_FUZZ_ENTRY(target)
#endif
