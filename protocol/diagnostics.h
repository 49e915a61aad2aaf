#pragma once
// Diagnostic lines: the program's only report of internal failures. They go to
// standard output, one whole line per call, written at once by a writer thread
// of their own, so that a caller never waits on an output nobody reads. While
// the output is blocked, up to 64 KiB of lines wait; lines beyond that are
// dropped, and one line says how many once the output takes lines again.

#include <functional>
#include <string_view>

// The format is always one of the program's own literals, never peer or user text.
void Diag(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Tests route the lines into a sink instead of stdout; an empty sink restores stdout.
using DiagSink = std::function<void(std::string_view)>;
void SetDiagSink(DiagSink sink);
