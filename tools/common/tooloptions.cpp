#include "tooloptions.h"

#include <cstdlib>

bool ArgCursor::Next() {
  if (++i_ >= argc_) return false;
  name_ = argv_[i_];
  inlineValue_.clear();
  hasInlineValue_ = false;
  const size_t eq = name_.find('=');
  if (equalsValues_ && name_.rfind("--", 0) == 0 && eq != std::string::npos) {
    inlineValue_ = name_.substr(eq + 1);
    name_.resize(eq);
    hasInlineValue_ = true;
  }
  return true;
}

bool ArgCursor::Flag(bool& field, std::string& error) {
  if (hasInlineValue_) {
    error = name_ + " takes no value";
    return false;
  }
  field = true;
  return true;
}

bool ArgCursor::Value(std::string& out, std::string& error) {
  if (hasInlineValue_) {
    out = inlineValue_;
    return true;
  }
  if (i_ + 1 >= argc_) {
    error = name_ + " needs a value";
    return false;
  }
  out = argv_[++i_];
  return true;
}

bool ArgCursor::OptionalValue(std::string& out) {
  if (hasInlineValue_) {
    out = inlineValue_;
    return true;
  }
  if (i_ + 1 >= argc_ || argv_[i_ + 1][0] == '-') return false;
  out = argv_[++i_];
  return true;
}

bool ArgCursor::Real(double& out, double lo, double hi, const char* what, std::string& error) {
  std::string v;
  if (!Value(v, error) || !WholeReal(v, out) || out <= lo || out > hi) {
    error = what;
    return false;
  }
  return true;
}

bool WholeReal(const std::string& text, double& out) {
  char* end = nullptr;
  out = std::strtod(text.c_str(), &end);
  return !text.empty() && end == text.c_str() + text.size();
}
