#pragma once
// Walking a tool's command line one option at a time. Each tool keeps its own
// options, texts and checks; this only takes values and reads numbers the
// same way in both.

#include <charconv>
#include <string>
#include <string_view>

class ArgCursor {
 public:
  // With `equalsValues`, "--name=VALUE" gives an option its value; without,
  // such an argument is just an option name that no tool knows.
  ArgCursor(int argc, char** argv, bool equalsValues) : argc_(argc), argv_(argv), equalsValues_(equalsValues) {}

  // Moves to the next argument; false past the last.
  bool Next();
  // The option, without its "=VALUE".
  const std::string& Name() const { return name_; }
  bool Is(std::string_view name) const { return name_ == name; }
  // The argument as it was given.
  const char* Raw() const { return argv_[i_]; }

  // A switch: sets `field`, or fails with "<name> takes no value" when given one.
  bool Flag(bool& field, std::string& error);
  // The value after '=', else the next argument; fails with "<name> needs a value".
  bool Value(std::string& out, std::string& error);
  // A value that may be left out: the one after '=', else the next argument
  // unless that is an option itself. False when there is none.
  bool OptionalValue(std::string& out);

  // A value that must be a whole number from `lo` to `hi`; any mistake,
  // a missing value included, fails with `what` as the error.
  template <typename T>
  bool Number(T& out, T lo, T hi, const char* what, std::string& error);
  // A value that must be a real number above `lo` and at most `hi`.
  bool Real(double& out, double lo, double hi, const char* what, std::string& error);

 private:
  int argc_;
  char** argv_;
  bool equalsValues_;
  int i_ = 0;
  std::string name_;
  std::string inlineValue_;
  bool hasInlineValue_ = false;
};

// The whole of `text` as a number of type T (no sign for unsigned types, no
// spaces, nothing after it).
template <typename T>
bool WholeNumber(std::string_view text, T& out) {
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// The whole of `text` as a real number, as strtod reads it.
bool WholeReal(const std::string& text, double& out);

template <typename T>
bool ArgCursor::Number(T& out, T lo, T hi, const char* what, std::string& error) {
  std::string v;
  if (!Value(v, error) || !WholeNumber(v, out) || out < lo || out > hi) {
    error = what;
    return false;
  }
  return true;
}
