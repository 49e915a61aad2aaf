#include "ui/peoplepane.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QResizeEvent>
#include <QTextEdit>
#include <QVBoxLayout>

#include "protocol/utf8.h"
#include "ui/toolkit/listbox.h"
#include "ui/toolkit/richedit.h"
#include "ui/typedline.h"

namespace {
// The pane's width in average characters, and the gap it leaves the transcript.
constexpr int kWidthInCharacters = 22;
constexpr int kGap = 4;

QString HereSince(uint32_t since) {
  const QDateTime at = QDateTime::fromSecsSinceEpoch(since).toLocalTime();
  const QString format =
      at.date() == QDate::currentDate() ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss");
  return QStringLiteral("Here since ") + at.toString(format);
}

// Whether a row is the user's own.
constexpr int kYouRole = Qt::UserRole + 1;

QString Counted(size_t n) { return n == 1 ? QStringLiteral("1 person") : QStringLiteral("%1 people").arg(n); }
}  // namespace

CPeoplePane::CPeoplePane(QTextEdit* transcript, CRichEdit* inputBox,
                         std::function<std::vector<std::string>()> knownNames)
    : QWidget(transcript->parentWidget()),
      transcript(transcript),
      inputBox(inputBox),
      knownNames(std::move(knownNames)),
      heading(new QLabel(this)),
      list(new CListBox(this)),
      note(new QLabel(this)),
      toggle(new QAction(QStringLiteral("Show people"), transcript->parentWidget())) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(2);
  heading->setBuddy(list);
  column->addWidget(heading);
  list->setAccessibleName(QStringLiteral("People in this chat"));
  list->setToolTip(QStringLiteral("Enter or a double click writes a private line (/msg)"));
  list->setTextElideMode(Qt::ElideRight);
  list->installEventFilter(this);
  column->addWidget(list, 1);
  note->setText(QStringLiteral("This host does not share who was here before you came."));
  note->setWordWrap(true);
  note->setForegroundRole(QPalette::PlaceholderText);
  note->hide();
  column->addWidget(note);
  connect(list, &QListWidget::itemDoubleClicked, this, &CPeoplePane::Address);
  connect(list, &QWidget::customContextMenuRequested, this, &CPeoplePane::OfferMenu);

  toggle->setCheckable(true);
  toggle->setShortcut(QKeySequence(Qt::Key_F9));
  toggle->setShortcutContext(Qt::WindowShortcut);
  parentWidget()->addAction(toggle);
  connect(toggle, &QAction::triggered, this, [this](bool on) {
    chosen = on;
    Relayout();
  });
  parentWidget()->installEventFilter(this);
  hide();
}

void CPeoplePane::Show(const PeopleList& people) {
  const std::vector<PeopleList::Person> shown = people.People();
  const QString current = list->currentItem() ? list->currentItem()->data(Qt::UserRole).toString() : QString();
  list->clear();
  for (const PeopleList::Person& p : shown) {
    const QString name = QString::fromStdString(p.name);
    QString text = QString::fromStdString(ControlsShown(p.name));
    if (p.you) text += QStringLiteral(" (you)");
    if (p.host) text += QStringLiteral(" (host)");
    auto* row = new QListWidgetItem(text, list);
    row->setData(Qt::UserRole, name);
    row->setData(kYouRole, p.you);
    row->setToolTip(HereSince(p.since));
    if (name == current) list->setCurrentItem(row);
  }
  switch (people.State()) {
    case PeopleList::Sharing::Out: heading->setText(QStringLiteral("Not in the chat")); break;
    case PeopleList::Sharing::Asking: heading->setText(QStringLiteral("Asking who is here\u2026")); break;
    default: heading->setText(Counted(shown.size())); break;
  }
  list->setAccessibleDescription(heading->text());
  note->setVisible(people.State() == PeopleList::Sharing::NotShared);
}

void CPeoplePane::SetRemover(std::function<void(const std::string&)> remover) {
  remove = std::move(remover);
  list->setContextMenuPolicy(remove || sendFile ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
}

void CPeoplePane::SetFileSender(std::function<void(const std::string&)> send, std::function<bool()> can) {
  sendFile = std::move(send);
  canSendFile = std::move(can);
  list->setContextMenuPolicy(remove || sendFile ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
}

void CPeoplePane::OfferMenu(const QPoint& at) {
  QListWidgetItem* row = list->itemAt(at);
  if (row == nullptr) row = list->currentItem();
  if (row == nullptr || (!remove && !sendFile) || row->data(kYouRole).toBool()) return;
  const std::string name = row->data(Qt::UserRole).toString().toStdString();
  QMenu menu(list);
  if (sendFile) {
    menu.addAction(QStringLiteral("Send a file\u2026"), [this, name] { sendFile(name); })
        ->setEnabled(canSendFile && canSendFile());
  }
  if (remove) menu.addAction(QStringLiteral("Remove from chat\u2026"), [this, name] { remove(name); });
  menu.exec(list->viewport()->mapToGlobal(list->visualItemRect(row).center()));
}

bool CPeoplePane::Wanted() const {
  if (chosen) return *chosen;
  const QWidget* window = parentWidget();
  const int room = fontMetrics().averageCharWidth() * kWidthInCharacters + kGap;
  return window->isMaximized() || window->width() >= window->minimumWidth() + room;
}

void CPeoplePane::TakeShare() {
  const bool wanted = Wanted();
  toggle->setChecked(wanted);
  setVisible(wanted);
  if (!wanted) return;
  const QRect full = transcript->geometry();
  const int width = std::min(fontMetrics().averageCharWidth() * kWidthInCharacters, full.width() / 2);
  setGeometry(full.right() + 1 - width, full.y(), width, full.height());
  transcript->setGeometry(full.adjusted(0, 0, -(width + kGap), 0));
}

void CPeoplePane::Relayout() {
  // The anchors give the transcript its whole rectangle again; this pane, then
  // the find bar, take their shares of it, as for any resize.
  QResizeEvent again(parentWidget()->size(), parentWidget()->size());
  QCoreApplication::sendEvent(parentWidget(), &again);
}

void CPeoplePane::Address(QListWidgetItem* row) {
  if (row == nullptr) return;
  const std::string name = row->data(Qt::UserRole).toString().toStdString();
  inputBox->SetSel(0, -1);
  const std::string typed = inputBox->GetSelText();
  // What was typed stays, behind the new addressee.
  const TypedLine line = ParseTypedLine(typed, knownNames());
  std::string rest = typed;
  if (line.kind == TypedLine::Kind::Private) rest = line.text;
  else if (line.kind == TypedLine::Kind::Incomplete) rest.clear();
  inputBox->ReplaceSel(("/msg " + name + " " + rest).c_str(), true);
  inputBox->GiveFocus();
}

bool CPeoplePane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) TakeShare();
  if (watched == list && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    // Enter would otherwise reach the window and press Send.
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Address(list->currentItem());
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}
