#pragma once
// Text limits counted in bytes of the narrow (UTF-8) encoding, because every
// limit in the program protects a fixed-size byte field or message.

#include <QString>
#include <QValidator>
#include <cstddef>
#include <string>

// Bytes `text` takes in UTF-8 once each line break is written as CR LF.
size_t WireLength(const QString& text);

// Copies `text` into `dest` of size `destSize`, cut on a character boundary, NUL-terminated.
void CopyUtf8(char* dest, size_t destSize, const char* text);

// Converts typed or pasted text to the wire form: every line break becomes CR LF.
std::string ToWireText(const QString& text);

// Converts received text for display: CR LF, a lone CR and a lone LF are each one
// line break.
QString FromWireText(const char* text);

// A line edit validator that keeps the text within `maxBytes` UTF-8 bytes: what
// does not fit of a typed or pasted insertion is left out, never half a character.
// With `digitsOnly`, anything but 0-9 is refused. With `noControls`, control
// characters (below 0x20, and 0x7F) are left out of whatever is typed or pasted.
class CByteLimitValidator : public QValidator {
 public:
  CByteLimitValidator(size_t maxBytes, bool digitsOnly, QObject* parent, bool noControls = false);
  State validate(QString& input, int& pos) const override;
  size_t MaxBytes() const { return maxBytes_; }

 private:
  size_t maxBytes_;
  bool digitsOnly_;
  bool noControls_;
};
