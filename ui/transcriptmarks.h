#pragma once
// What the transcript marks on its text as each piece is appended, and what
// the pointer does over those marks:
// - web and mail addresses (http://, https://, mailto:) in received text become
//   links on the text as it stands, in its sender's style; Ctrl+click asks the
//   desktop to open one, a plain click selects as anywhere else, and the
//   pointer becomes a hand over them. Nothing is ever fetched by the window.
//   Links are underlined, and their tooltip says how to open them.
// - the buttons of a shared file's card are links of the window's own scheme
//   (CARD_ACTION_SCHEME), which a plain click presses.
// - a line's header (or a one-line notice) keeps the local time it was shown,
//   which a tooltip over it gives ("14:03:27").

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTime>
#include <functional>

inline constexpr const char* CARD_ACTION_SCHEME = "jaselo-card";

class QTextDocument;
class QTextEdit;
class QUrl;

// Marks the piece [from, to) of `document`: the addresses in it when it is
// received text, else its first line with `shown`, tinted when it is the
// header of a line that names the user.
void MarkPiece(QTextDocument* document, int from, int to, bool received, const QTime& shown, bool mention = false);

// Whether `text` holds `name` as a word of its own, in any letter case.
bool MentionsName(const QString& text, const QString& name);
// The tint behind a header that names the user: light enough for the grey and
// pink headers to stay readable, strong enough to stand out on white.
inline constexpr unsigned MENTION_TINT_RGB = 0xFFE89A;

class CTranscriptMarks : public QObject {
  Q_OBJECT

 public:
  using OpenCall = std::function<void(const QUrl& address)>;

  // Watches `transcript`'s viewport and is destroyed with it.
  explicit CTranscriptMarks(QTextEdit* transcript);

  // What opening an address does; QDesktopServices::openUrl unless replaced,
  // so that a test can see the request.
  void SetOpenCall(OpenCall call) { open = std::move(call); }
  // What pressing a card's button does, given its link.
  void SetCardCall(OpenCall call) { card = std::move(call); }
  // The tooltip for the viewport point `at`: the time its line was shown, how
  // to open the link there, or "".
  QString TimeAt(const QPoint& at) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QTextEdit* transcript;
  // Kept apart: the viewport's last events come while the transcript is
  // already being destroyed.
  QWidget* viewport;
  OpenCall open;
  OpenCall card;
  QString pressedLink;  // the address under the last Ctrl+press, or the card's button under the last press
};
