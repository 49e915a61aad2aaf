#include "ui/toolkit/textlimit.h"

#include <cstring>

#include "protocol/utf8.h"

size_t WireLength(const QString& text) { return ToWireText(text).size(); }

void CopyUtf8(char* dest, size_t destSize, const char* text) {
  if (destSize == 0) return;
  if (!text) text = "";
  const size_t n = Utf8PrefixLength(text, destSize - 1);
  std::memcpy(dest, text, n);
  dest[n] = '\0';
}

std::string ToWireText(const QString& text) {
  QString normalised;
  normalised.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c == u'\r') {
      if (i + 1 < text.size() && text.at(i + 1) == u'\n') ++i;
      normalised += QStringLiteral("\r\n");
    } else if (c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator) {
      normalised += QStringLiteral("\r\n");
    } else {
      normalised += c;
    }
  }
  return normalised.toStdString();
}

QString FromWireText(const char* text) {
  const QString in = QString::fromUtf8(text ? text : "");
  QString out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    const QChar c = in.at(i);
    if (c == u'\r') {
      if (i + 1 < in.size() && in.at(i + 1) == u'\n') ++i;
      out += u'\n';
    } else {
      out += c;
    }
  }
  return out;
}

CByteLimitValidator::CByteLimitValidator(size_t maxBytes, bool digitsOnly, QObject* parent, bool noControls)
    : QValidator(parent), maxBytes_(maxBytes), digitsOnly_(digitsOnly), noControls_(noControls) {}

QValidator::State CByteLimitValidator::validate(QString& input, int& pos) const {
  if (noControls_) {
    for (qsizetype i = input.size() - 1; i >= 0; --i) {
      const char16_t c = input.at(i).unicode();
      if (c >= 0x20 && c != 0x7F) continue;
      input.remove(i, 1);
      if (i < pos) --pos;
    }
  }
  if (digitsOnly_) {
    for (QChar c : input)
      if (c < u'0' || c > u'9') return Invalid;
  }
  // Drop what does not fit from the characters just before the cursor, which is
  // where a typed or pasted insertion ends.
  while (static_cast<size_t>(input.toUtf8().size()) > maxBytes_) {
    if (pos <= 0) return Invalid;
    int width = 1;
    if (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate()) width = 2;
    input.remove(pos - width, width);
    pos -= width;
  }
  return Acceptable;
}
