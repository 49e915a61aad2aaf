#include "ui/transcriptactions.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QTextEdit>

#include "ui/findbar.h"
#include "ui/joinfromphone.h"
#include "ui/transcriptmarks.h"
#include "ui/transcriptsave.h"

CTranscriptActions::CTranscriptActions(QWidget* window, QTextEdit* transcript, QWidget* inputBox)
    : QObject(window),
      transcript(transcript),
      findBar(new CFindBar(transcript, inputBox)),
      marks(new CTranscriptMarks(transcript)),
      find(new QAction(QStringLiteral("Find\u2026"), window)),
      save(new QAction(QStringLiteral("Save transcript\u2026"), window)) {
  // Window-wide, so that they work from the input box too.
  find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  for (QAction* action : {find, save}) {
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
  }
  connect(find, &QAction::triggered, findBar, &CFindBar::Open);
  connect(save, &QAction::triggered, this, [window, transcript] { SaveTranscriptAs(window, *transcript->document()); });
  transcript->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(transcript, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QMenu* menu = CreateMenu(at);
    menu->exec(this->transcript->viewport()->mapToGlobal(at));
    delete menu;
  });
}

QMenu* CTranscriptActions::CreateMenu(const QPoint& at) const {
  // The standard menu (Copy, Copy Link Location over a link, Select All) takes
  // the point in document coordinates.
  const QPoint inDocument =
      at + QPoint(transcript->horizontalScrollBar()->value(), transcript->verticalScrollBar()->value());
  QMenu* menu = transcript->createStandardContextMenu(inDocument);
  menu->addSeparator();
  menu->addAction(find);
  menu->addAction(save);
  if (!more.empty()) menu->addSeparator();
  for (QAction* action : more) menu->addAction(action);
  return menu;
}

void CTranscriptActions::OfferInvitation(std::function<Invitation()> invitation) {
  if (invite) return;
  auto* window = qobject_cast<QWidget*>(parent());
  invite = new QAction(QStringLiteral("Join from a phone\u2026"), window);
  invite->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
  invite->setShortcutContext(Qt::WindowShortcut);
  window->addAction(invite);
  more.push_back(invite);
  connect(invite, &QAction::triggered, this, [window, invitation = std::move(invitation)] {
    CJoinFromPhoneDialog dialog(invitation(), window);
    dialog.exec();
  });
}
