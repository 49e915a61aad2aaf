#include "ui/transcriptmarks.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QToolTip>
#include <QUrl>

namespace {

// An address starts a word and runs to the next blank or quote; punctuation
// that ends a sentence, and a closing bracket with no opening one in the
// address, are left out.
QString TrimAddress(QString address) {
  static const QString kEnding = QStringLiteral(".,;:!?'\"");
  static const QString kClosing = QStringLiteral(")]}>");
  static const QString kOpening = QStringLiteral("([{<");
  while (!address.isEmpty()) {
    const QChar last = address.back();
    const qsizetype bracket = kClosing.indexOf(last);
    if (kEnding.contains(last) || (bracket >= 0 && address.count(last) > address.count(kOpening[bracket])))
      address.chop(1);
    else break;
  }
  return address;
}

// Only web and mail addresses with something after the scheme are links.
bool IsOpenable(const QUrl& url) {
  const QString scheme = url.scheme().toLower();
  if (!url.isValid()) return false;
  if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) return !url.host().isEmpty();
  return scheme == QLatin1String("mailto") && !url.path().isEmpty();
}

void MarkLinks(QTextDocument* document, int from, int to) {
  // Unicode blanks end an address too, the paragraph separators between the
  // lines of a piece among them.
  static const QRegularExpression kAddress(
      QStringLiteral(R"((?<![\w.+-])(?:https?://|mailto:)[^\s<>"\x{FFFC}]+)"),
      QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
  QTextCursor piece(document);
  // Inside an edit block a cursor's moves lay nothing out: a long line
  // arriving is laid out once, when it is shown, not for every mark.
  piece.beginEditBlock();
  piece.setPosition(from);
  piece.setPosition(to, QTextCursor::KeepAnchor);
  // The selection's text holds U+2029 between paragraphs: one character each,
  // so offsets in it are document offsets.
  const QString text = piece.selectedText();
  for (auto it = kAddress.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch match = it.next();
    const QString address = TrimAddress(match.captured());
    if (!IsOpenable(QUrl(address))) continue;
    QTextCursor link(document);
    link.setPosition(from + static_cast<int>(match.capturedStart()));
    link.setPosition(from + static_cast<int>(match.capturedStart() + address.size()), QTextCursor::KeepAnchor);
    // Face and colour stay the sender's; the underline shows it is a link.
    QTextCharFormat format;
    format.setAnchor(true);
    format.setAnchorHref(address);
    format.setFontUnderline(true);
    format.setToolTip(QStringLiteral("Ctrl+click to open ") + address);
    link.mergeCharFormat(format);
  }
  piece.endEditBlock();
}

}  // namespace

void MarkPiece(QTextDocument* document, int from, int to, bool received, const QTime& shown, bool mention) {
  if (received) {
    MarkLinks(document, from, to);
    return;
  }
  QTextCursor line(document);
  line.setPosition(from);
  line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  if (!line.hasSelection()) return;
  QTextCharFormat format;
  format.setToolTip(shown.toString(QStringLiteral("HH:mm:ss")));
  if (mention) format.setBackground(QColor(QRgb(MENTION_TINT_RGB)));
  line.mergeCharFormat(format);
}

bool MentionsName(const QString& text, const QString& name) {
  if (name.isEmpty()) return false;
  const auto isWordCharacter = [](QChar c) { return c.isLetterOrNumber() || c == u'_'; };
  for (qsizetype at = text.indexOf(name, 0, Qt::CaseInsensitive); at >= 0;
       at = text.indexOf(name, at + 1, Qt::CaseInsensitive)) {
    const qsizetype end = at + name.size();
    const bool starts = at == 0 || !isWordCharacter(text.at(at - 1));
    const bool ends = end == text.size() || !isWordCharacter(text.at(end));
    if (starts && ends) return true;
  }
  return false;
}

CTranscriptMarks::CTranscriptMarks(QTextEdit* transcript)
    : QObject(transcript),
      transcript(transcript),
      viewport(transcript->viewport()),
      open([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  viewport->setMouseTracking(true);
  viewport->installEventFilter(this);
}

QString CTranscriptMarks::TimeAt(const QPoint& at) const {
  const QPointF inDocument =
      at + QPoint(transcript->horizontalScrollBar()->value(), transcript->verticalScrollBar()->value());
  return transcript->document()->documentLayout()->formatAt(inDocument).toCharFormat().toolTip();
}

bool CTranscriptMarks::eventFilter(QObject* watched, QEvent* event) {
  if (watched != viewport) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseMove: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const bool overLink = !transcript->anchorAt(mouse->position().toPoint()).isEmpty();
      viewport->setCursor(overLink ? Qt::PointingHandCursor : Qt::IBeamCursor);
      break;
    }
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const bool left = mouse->button() == Qt::LeftButton;
      const bool ctrl = left && (mouse->modifiers() & Qt::ControlModifier);
      const QString link = transcript->anchorAt(mouse->position().toPoint());
      const bool button = left && QUrl(link).scheme() == QLatin1String(CARD_ACTION_SCHEME);
      pressedLink = ctrl || button ? link : QString();
      // A card's button is pressed, not the start of a selection.
      if (button) return true;
      break;
    }
    case QEvent::MouseButtonRelease: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const QString link = std::exchange(pressedLink, QString());
      const QUrl url(link);
      if (url.scheme() == QLatin1String(CARD_ACTION_SCHEME)) {
        if (card && mouse->button() == Qt::LeftButton && transcript->anchorAt(mouse->position().toPoint()) == link)
          card(url);
        return true;
      }
      // Pressed and released on the same link with Ctrl held: not a selection.
      if (!link.isEmpty() && mouse->button() == Qt::LeftButton && (mouse->modifiers() & Qt::ControlModifier) &&
          transcript->anchorAt(mouse->position().toPoint()) == link) {
        if (IsOpenable(url)) open(url);
      }
      break;
    }
    case QEvent::ToolTip: {
      const auto* help = static_cast<QHelpEvent*>(event);
      const QString time = TimeAt(help->pos());
      if (time.isEmpty()) QToolTip::hideText();
      else QToolTip::showText(help->globalPos(), time, viewport);
      return true;
    }
    default: break;
  }
  return QObject::eventFilter(watched, event);
}
