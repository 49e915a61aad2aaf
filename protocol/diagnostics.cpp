#include "protocol/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {
std::mutex& DiagMutex() {
  static std::mutex m;
  return m;
}
DiagSink& Sink() {
  static DiagSink s;
  return s;
}
}  // namespace

void Diag(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::vector<char> text(needed > 0 ? static_cast<size_t>(needed) + 1 : 1, '\0');
  if (needed > 0) std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  const std::string_view line(text.data(), needed > 0 ? static_cast<size_t>(needed) : 0);

  // One lock for both paths keeps lines from different threads whole.
  std::lock_guard<std::mutex> guard(DiagMutex());
  if (Sink()) {
    Sink()(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

void SetDiagSink(DiagSink sink) {
  std::lock_guard<std::mutex> guard(DiagMutex());
  Sink() = std::move(sink);
}
