// The transcript: every line comes from one chat event. Peer text is inserted
// as plain text with a character format, never interpreted.

#include <QDateTime>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <string>

#include "protocol/utf8.h"
#include "ui/jaselodlg.h"
#include "ui/notifier.h"
#include "ui/toolkit/richedit.h"
#include "ui/toolkit/textlimit.h"
#include "ui/transcriptmarks.h"

namespace {

constexpr uint32_t kHeaderMask = CFM_FACE | CFM_COLOR | CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE;
constexpr const char* kHeaderFace = "Courier New";
constexpr uint32_t kSaysColor = MakeColor(128, 128, 128);
constexpr uint32_t kPrivateColor = MakeColor(255, 128, 255);
constexpr uint32_t kNoticeColor = MakeColor(90, 230, 90);
// Lines said before the user came: their headers, and what their senders'
// colours are muted towards.
constexpr uint32_t kEarlierColor = MakeColor(160, 160, 160);

std::string Str(const EventString& s) { return s.get() ? s.get() : ""; }

// A nickname as the transcript shows it, whatever a server sent.
std::string ShownName(const EventString& s) { return ControlsShown(Str(s)); }

CharFormat HeaderFormat(uint32_t color) {
  CharFormat f;
  f.Mask = kHeaderMask;
  f.Effects = 0;
  f.Color = color;
  SetFaceName(f, kHeaderFace);
  return f;
}

}  // namespace

void CJaseloDlg::AppendText(const std::string& text) { AppendPiece(text, false); }

void CJaseloDlg::AppendPiece(const std::string& text, bool received, bool mention, const QTime& shown) {
  transcript->SetSel(-1, -1);
  const int from = transcript->GetTextLength();
  transcript->SetSelectionCharFormat(transcriptFormat);
  transcript->ReplaceSel(text.c_str(), false);
  MarkPiece(transcript->document(), from, transcript->GetTextLength(), received,
            shown.isValid() ? shown : QTime::currentTime(), mention);
  TrimTranscript();
}

void CJaseloDlg::TrimTranscript() {
  // Removing paragraphs one by one as each comes costs a relayout every time
  // (measured: more than 40 times slower than appending); a tenth of the bound at
  // once keeps appending as fast as with no bound.
  QTextDocument* document = transcript->document();
  if (transcriptLimit <= 0 || document->blockCount() <= transcriptLimit) return;
  const int excess = document->blockCount() - transcriptLimit + std::max(1, transcriptLimit / 10);
  QTextCursor oldest(document);
  oldest.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, excess);
  oldest.removeSelectedText();
}

void CJaseloDlg::AppendBody(ChatEvent& event, const QTime& shown) {
  const std::string text = Str(event.Text) + "\r\n\r\n";
  transcriptFormat = CharFormat{};
  transcriptFormat.Mask = kHeaderMask;
  transcriptFormat.Effects = (event.Bold == 1 ? CFE_BOLD : 0) | (event.Italic == 1 ? CFE_ITALIC : 0) |
                             (event.Underline == 1 ? CFE_UNDERLINE : 0);
  transcriptFormat.Color = MakeColor(event.Red, event.Green, event.Blue);
  SetFaceName(transcriptFormat, event.Police.get());
  AppendPiece(text, true, false, shown);
  event.Text.Reset();
  event.Police.Reset();
}

void CJaseloDlg::AppendEarlier(ChatEvent& event) {
  const QDateTime said = QDateTime::fromSecsSinceEpoch(event.Time).toLocalTime();
  if (!showingEarlier) {
    showingEarlier = true;
    transcriptFormat = HeaderFormat(kEarlierColor);
    AppendText("\xE2\x80\x94 Earlier in this chat \xE2\x80\x94\r\n\r\n");
  }
  // The time next to the header: the date too when it was not today.
  const QString when =
      said.toString(said.date() == QDate::currentDate() ? QStringLiteral("HH:mm") : QStringLiteral("yyyy-MM-dd HH:mm"));
  transcriptFormat = HeaderFormat(kEarlierColor);
  AppendPiece(ShownName(event.Name) + " says (" + when.toStdString() + ") :\r\n", false, false, said.time());
  event.Name.Reset();
  // The sender's style, muted: its colour halfway to the earlier lines' grey.
  const auto mute = [](uint16_t c, uint32_t grey) { return static_cast<uint16_t>(((c & 0xFF) + grey) / 2); };
  event.Red = mute(event.Red, ColorRed(kEarlierColor));
  event.Green = mute(event.Green, ColorGreen(kEarlierColor));
  event.Blue = mute(event.Blue, ColorBlue(kEarlierColor));
  AppendBody(event, said.time());
  if (event.Count != 0) return;
  // The last one: a thin rule, then the live conversation below it.
  showingEarlier = false;
  QTextCursor end(transcript->document());
  end.movePosition(QTextCursor::End);
  QTextBlockFormat rule;
  rule.setProperty(QTextFormat::BlockTrailingHorizontalRulerWidth, QTextLength(QTextLength::PercentageLength, 100));
  end.setBlockFormat(rule);
  end.insertBlock(QTextBlockFormat());
}

void CJaseloDlg::AppendSays(ChatEvent& event) {
  transcriptFormat = HeaderFormat(kSaysColor);
  AppendPiece(ShownName(event.Name) + " says :\r\n", false, Mentions(event));
  event.Name.Reset();
  AppendBody(event);
}

void CJaseloDlg::AppendPrivateSays(ChatEvent& event) {
  transcriptFormat = HeaderFormat(kPrivateColor);
  AppendPiece("(*private*) " + ShownName(event.Name) + " says :\r\n", false, Mentions(event));
  event.Name.Reset();
  AppendBody(event);
}

void CJaseloDlg::AppendOwnPrivate(const std::string& addressee, ChatEvent& line) {
  transcriptFormat = HeaderFormat(kPrivateColor);
  EventString shown;
  shown.Assign(addressee.data(), addressee.size());
  AppendText("(*private*) to " + ShownName(shown) + " :\r\n");
  AppendBody(line);
}

bool CJaseloDlg::Mentions(const ChatEvent& event) const {
  if (!event.Name.get() || !event.Text.get()) return false;
  const Nickname own = Own();
  if (own.Is(event.Name.get())) return false;  // the user's own line
  return MentionsName(QString::fromUtf8(event.Text.get()), QString::fromStdString(own.str()));
}

void CJaseloDlg::NotifyDesktop(const ChatEvent& event) {
  if (!notifier || !event.Name.get() || Own().Is(event.Name.get())) return;
  Notification n;
  n.sender = QString::fromUtf8(event.Name.get());
  const QString name = QString::fromStdString(ShownName(event.Name));
  switch (event.Type) {
    case CHAT_SAYS: n.summary = name + QStringLiteral(" says :"); break;
    case CHAT_PRIVATE: n.summary = QStringLiteral("(*private*) ") + name + QStringLiteral(" says :"); break;
    case CHAT_JOINED: n.summary = name + QStringLiteral(" joined the chat !"); break;
    default: return;  // departures and the rest are not worth a notification
  }
  n.category = event.Type == CHAT_JOINED ? QStringLiteral("presence.online") : QStringLiteral("im.received");
  if (event.Type != CHAT_JOINED) n.body = FromWireText(event.Text.get());
  n.urgent = Mentions(event);
  notifier->Notify(n);
}

void CJaseloDlg::AppendJoined(ChatEvent& event) {
  transcriptFormat = HeaderFormat(kNoticeColor);
  AppendText(ShownName(event.Name) + " joined the chat !\r\n\r\n");
  event.Name.Reset();
}

void CJaseloDlg::AppendNotice(const std::string& text) {
  transcriptFormat = HeaderFormat(kNoticeColor);
  AppendText(text + "\r\n\r\n");
}

void CJaseloDlg::AppendDisconnected(ChatEvent& event) {
  transcriptFormat = HeaderFormat(kNoticeColor);
  AppendText(ShownName(event.Name) + " is disconnected !\r\n\r\n");
  event.Name.Reset();
}
