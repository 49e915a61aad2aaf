#include "ui/toolkit/richedit.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QTextCursor>

#include "ui/toolkit/textlimit.h"

namespace {

QTextCharFormat ToQt(const CharFormat& f) {
  QTextCharFormat q;
  if (f.Mask & CFM_FACE) q.setFontFamilies(QStringList{QString::fromUtf8(f.FaceName)});
  if (f.Mask & CFM_COLOR) q.setForeground(QColor(ColorRed(f.Color), ColorGreen(f.Color), ColorBlue(f.Color)));
  if (f.Mask & CFM_HEIGHT) q.setFontPointSize(f.Height / 20.0);
  if (f.Mask & CFM_BOLD) q.setFontWeight((f.Effects & CFE_BOLD) ? QFont::Bold : QFont::Normal);
  if (f.Mask & CFM_ITALIC) q.setFontItalic((f.Effects & CFE_ITALIC) != 0);
  if (f.Mask & CFM_UNDERLINE) q.setFontUnderline((f.Effects & CFE_UNDERLINE) != 0);
  return q;
}

}  // namespace

void SetFaceName(CharFormat& format, const char* face) { CopyUtf8(format.FaceName, sizeof format.FaceName, face); }

CRichEdit::CRichEdit(QWidget* parent) : CFocusMarked<QTextEdit>(parent) {
  setAcceptRichText(false);  // pasted text takes the box's format, like typed text
  setLineWrapMode(QTextEdit::WidgetWidth);
  setTabChangesFocus(true);
  // White paper and black default text under any desktop palette: lines come
  // in their senders' colours, which a dark background would swallow.
  QPalette p = palette();
  p.setColor(QPalette::Base, Qt::white);
  p.setColor(QPalette::Text, Qt::black);
  setPalette(p);
}

int CRichEdit::GetTextLength() { return document()->characterCount() - 1; }

void CRichEdit::SetSel(int start, int end) {
  const int last = document()->characterCount() - 1;
  if (end < 0 || end > last) end = last;
  if (start < 0 || start > end) start = end;
  QTextCursor c = textCursor();
  c.setPosition(start);
  c.setPosition(end, QTextCursor::KeepAnchor);
  setTextCursor(c);
}

std::string CRichEdit::GetSelText() { return ToWireText(textCursor().selectedText()); }

void CRichEdit::ReplaceSel(const char* text, bool canUndo) {
  const bool undo = document()->isUndoRedoEnabled();
  if (!canUndo && undo) document()->setUndoRedoEnabled(false);
  QTextCursor c = textCursor();
  c.insertText(FromWireText(text), currentCharFormat());
  setTextCursor(c);
  if (!canUndo && undo) document()->setUndoRedoEnabled(true);
  ensureCursorVisible();
}

void CRichEdit::Clear() { clear(); }

void CRichEdit::SetSelectionCharFormat(const CharFormat& format) { mergeCurrentCharFormat(ToQt(format)); }

void CRichEdit::SetDefaultCharFormat(const CharFormat& format) {
  // The widget's font becomes the document's default font.
  QFont f = font();
  if (format.Mask & CFM_FACE) f.setFamilies(QStringList{QString::fromUtf8(format.FaceName)});
  if (format.Mask & CFM_HEIGHT) f.setPointSizeF(format.Height / 20.0);
  if (format.Mask & CFM_BOLD) f.setBold((format.Effects & CFE_BOLD) != 0);
  if (format.Mask & CFM_ITALIC) f.setItalic((format.Effects & CFE_ITALIC) != 0);
  if (format.Mask & CFM_UNDERLINE) f.setUnderline((format.Effects & CFE_UNDERLINE) != 0);
  setFont(f);
  if (format.Mask & CFM_COLOR) {
    QPalette p = palette();
    p.setColor(QPalette::Text, QColor(ColorRed(format.Color), ColorGreen(format.Color), ColorBlue(format.Color)));
    setPalette(p);
  }
}

CharFormat CRichEdit::GetDefaultCharFormat() {
  CharFormat out;
  const QFont f = document()->defaultFont();
  out.Mask = CFM_FACE | CFM_COLOR | CFM_HEIGHT | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE;
  out.Effects = (f.bold() ? CFE_BOLD : 0) | (f.italic() ? CFE_ITALIC : 0) | (f.underline() ? CFE_UNDERLINE : 0);
  out.Height = static_cast<int32_t>(f.pointSizeF() * 20.0 + 0.5);
  const QColor c = palette().color(QPalette::Text);
  out.Color = MakeColor(c.red(), c.green(), c.blue());
  const QStringList families = f.families();
  SetFaceName(out, (families.isEmpty() ? f.family() : families.first()).toUtf8().constData());
  return out;
}

void CRichEdit::LimitText(size_t maxBytes) { limit_ = maxBytes; }

void CRichEdit::GiveFocus() { setFocus(Qt::OtherFocusReason); }

QString CRichEdit::Fitting(const QString& text) const {
  if (limit_ == 0) return text;
  // The whole text as GetSelText converts it: the limit counts exactly what
  // Send takes. (The plain-text view of the document differs: it shows a
  // no-break space as a blank, one byte fewer.) Its offsets are positions.
  QTextCursor all(document());
  all.select(QTextCursor::Document);
  const QString whole = all.selectedText();
  const QTextCursor selection = textCursor();
  const QString before = whole.left(selection.selectionStart());
  const QString after = whole.mid(selection.selectionEnd());
  const auto fits = [&](qsizetype n) {
    const std::string result = ToWireText(before + text.left(n) + after);
    return (measure_ ? measure_(result) : result.size()) <= limit_;
  };
  if (fits(text.size())) return text;
  // Whole characters only; CR LF is one line break.
  qsizetype end = 0;
  while (end < text.size()) {
    const QChar c = text.at(end);
    const QChar next = end + 1 < text.size() ? text.at(end + 1) : QChar();
    const bool pair = (c.isHighSurrogate() && next.isLowSurrogate()) || (c == u'\r' && next == u'\n');
    const qsizetype width = pair ? 2 : 1;
    if (!fits(end + width)) break;
    end += width;
  }
  return text.left(end);
}

void CRichEdit::keyPressEvent(QKeyEvent* event) {
  const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (isReturn && !wantReturn_) {
    event->ignore();  // the dialog presses its default button
    return;
  }
  if (limit_ != 0 && !isReadOnly()) {
    const QString text = isReturn ? QStringLiteral("\n") : event->text();
    const bool typesText =
        isReturn || (!text.isEmpty() && text.at(0).isPrint() && !(event->modifiers() & Qt::ControlModifier));
    if (typesText && Fitting(text) != text) {
      const QString fits = Fitting(text);
      if (!fits.isEmpty()) insertPlainText(fits);
      event->accept();
      return;
    }
  }
  QTextEdit::keyPressEvent(event);
}

void CRichEdit::inputMethodEvent(QInputMethodEvent* event) {
  if (limit_ != 0 && !event->commitString().isEmpty()) {
    const QString fits = Fitting(event->commitString());
    if (fits != event->commitString()) {
      QInputMethodEvent trimmed(event->preeditString(), event->attributes());
      trimmed.setCommitString(fits, event->replacementStart(), event->replacementLength());
      QTextEdit::inputMethodEvent(&trimmed);
      event->accept();
      return;
    }
  }
  QTextEdit::inputMethodEvent(event);
}

bool CRichEdit::canInsertFromMimeData(const QMimeData* source) const {
  return source && (source->hasText() || (taker_ && (source->hasImage() || source->hasUrls())));
}

void CRichEdit::insertFromMimeData(const QMimeData* source) {
  if (source && taker_ && taker_(source)) return;
  if (!source || !source->hasText()) return;
  const QString fits = Fitting(source->text());
  if (!fits.isEmpty()) insertPlainText(fits);
}
