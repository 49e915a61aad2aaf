#pragma once
// Rich-text box, for the user-interface thread alone.

#include <QTextEdit>
#include <cstddef>
#include <functional>
#include <string>

#include "ui/toolkit/charformat.h"
#include "ui/toolkit/focusmarked.h"

class CRichEdit : public CFocusMarked<QTextEdit> {
  Q_OBJECT

 public:
  explicit CRichEdit(QWidget* parent);

  // Characters in the box (a line break counts as one).
  int GetTextLength();
  // Selects characters [start, end); -1 as end means the end of the text.
  void SetSel(int start, int end);
  // The selected text, line breaks as CR LF, in UTF-8.
  std::string GetSelText();
  // Replaces the selection with `text` (UTF-8; CR LF, CR or LF each make one line
  // break); the caret comes into view.
  void ReplaceSel(const char* text, bool canUndo);
  void Clear();
  // Applies the attributes in `format`'s mask to the selection, or to the
  // insertion point when nothing is selected.
  void SetSelectionCharFormat(const CharFormat& format);
  // Applies the attributes in `format`'s mask as the box's default format: text
  // without a format of its own takes them on.
  void SetDefaultCharFormat(const CharFormat& format);
  // The box's default format, every attribute filled in.
  CharFormat GetDefaultCharFormat();
  // Accepts at most `maxBytes` bytes of text from now on, counted as they are sent
  // (UTF-8, line breaks as CR LF); what does not fit of an insertion is left out.
  void LimitText(size_t maxBytes);
  size_t GetLimitText() const { return limit_; }
  // How many bytes of the limit a whole text takes, given as GetSelText gives
  // it; by default all of its bytes. A box whose text is sent in another form
  // counts what is sent.
  using LimitMeasure = std::function<size_t(const std::string& text)>;
  void SetLimitMeasure(LimitMeasure measure) { measure_ = std::move(measure); }
  // Whether `text` fits whole in place of the selection under the limit.
  bool Fits(const QString& text) const { return Fitting(text) == text; }
  // When false, Enter is left to the dialog (it presses the default button).
  void SetWantReturn(bool want) { wantReturn_ = want; }
  void GiveFocus();
  // What a paste or a drop holds goes to `take` first; what it takes (a
  // picture, files) is not inserted as text.
  using MimeTaker = std::function<bool(const QMimeData* source)>;
  void SetMimeTaker(MimeTaker take) { taker_ = std::move(take); }

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;

 private:
  // The part of `text` that fits in place of the selection under the limit:
  // its longest start that does.
  QString Fitting(const QString& text) const;

  size_t limit_ = 0;  // 0: no limit of our own
  LimitMeasure measure_;
  MimeTaker taker_;
  bool wantReturn_ = true;
};
