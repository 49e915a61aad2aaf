#include "ui/nicknamecompleter.h"

#include <strings.h>
#include <QKeyEvent>
#include <QTextCursor>
#include <QTextDocument>

#include "protocol/headers.h"
#include "ui/toolkit/richedit.h"

namespace {

bool IsBlank(QChar c) { return c.isSpace() || c == QChar::ParagraphSeparator || c == QChar::LineSeparator; }

}  // namespace

CNicknameCompleter::CNicknameCompleter(CRichEdit* box) : QObject(box), box(box) { box->installEventFilter(this); }

void CNicknameCompleter::OnChatEvent(uint16_t chatType, const std::string& name) {
  if (name.empty()) return;
  if (chatType != CHAT_SAYS && chatType != CHAT_PRIVATE && chatType != CHAT_JOINED && chatType != CHAT_DISCONNECTED)
    return;
  // One entry per name in any letter case, as the server tells names apart.
  for (auto it = names.begin(); it != names.end(); ++it) {
    if (strcasecmp(it->c_str(), name.c_str()) != 0) continue;
    names.erase(it);
    break;
  }
  if (chatType != CHAT_DISCONNECTED) names.insert(names.begin(), name);
}

bool CNicknameCompleter::Complete() {
  QTextCursor caret = box->textCursor();
  if (caret.hasSelection()) return false;
  const QString text = box->document()->toPlainText();
  const int at = caret.position();
  QString inserting;
  int start = at;
  if (last.revision == box->document()->revision() && last.end == at && !last.candidates.isEmpty()) {
    // Tab again at once: the next name in place of the one just given.
    start = last.start;
    last.index = (last.index + 1) % last.candidates.size();
  } else {
    while (start > 0 && !IsBlank(text.at(start - 1))) --start;
    const QString word = text.mid(start, at - start);
    if (word.isEmpty()) return false;
    last.candidates.clear();
    for (const std::string& name : names) {
      const QString candidate = QString::fromStdString(name);
      if (candidate.startsWith(word, Qt::CaseInsensitive)) last.candidates.push_back(candidate);
    }
    last.index = 0;
    last.start = start;
    last.end = -1;
    // A word that fits no name is left as it is, and Tab stays in the box.
    if (last.candidates.isEmpty()) return true;
  }
  inserting = last.candidates.at(last.index) + u' ';
  if (start == 0) inserting.prepend(QStringLiteral("/msg "));
  caret.setPosition(start);
  caret.setPosition(at, QTextCursor::KeepAnchor);
  box->setTextCursor(caret);
  // A name that would pass the box's limit is not given.
  if (!box->Fits(inserting)) {
    caret.setPosition(at);
    box->setTextCursor(caret);
    return true;
  }
  caret.insertText(inserting);
  box->setTextCursor(caret);
  last.end = caret.position();
  last.revision = box->document()->revision();
  return true;
}

bool CNicknameCompleter::eventFilter(QObject* watched, QEvent* event) {
  if (watched == box && event->type() == QEvent::KeyPress) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier && Complete()) return true;
  }
  return QObject::eventFilter(watched, event);
}
