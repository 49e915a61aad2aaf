#pragma once
// The transcript's find bar: a small row under the transcript (which gives up
// the bar's height while it is shown). Every match is highlighted, case
// ignored; Enter moves to the next match, Shift+Enter to the previous one, both
// wrapping around; Escape closes the bar, wherever the focus is in the window,
// and the input box takes the keyboard again.

#include <QRect>
#include <QTextCursor>
#include <QTimer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QTextEdit;

class CFindBar : public QWidget {
  Q_OBJECT

 public:
  // A child of `transcript`'s window; `afterClose` gets the focus when it closes.
  CFindBar(QTextEdit* transcript, QWidget* afterClose);

  void Open();
  void Close();
  bool IsOpen() const { return isVisible(); }
  // Selects the next (or previous) match after the current one, wrapping
  // around the ends; false when the text does not occur.
  bool Find(bool backward);
  QLineEdit* Field() const { return field; }
  // The selected match, "n of m" or "No match".
  QString Status() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Searches from `position` (a document position) on; wraps once.
  bool FindFrom(int position, bool backward);
  void Highlight();
  // Puts the bar at the bottom of fullRect and the transcript above it.
  void TakeShare();

  QTextEdit* transcript;
  QWidget* afterClose;
  QLineEdit* field;
  QLabel* status;
  QRect fullRect;       // the transcript's own rectangle, given back on closing
  QTextCursor current;  // the selected match; follows the transcript's edits
  QTimer rehighlight;   // lines arriving while the bar is open are highlighted too
};
