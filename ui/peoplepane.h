#pragma once
// The people in the chat, beside the transcript on its right: a heading that
// counts them, one row per person (sorted without regard to letter case, the
// user and the host's user marked, a tooltip saying since when each one is
// here), and a grey note when the host does not share who was there before.
// At the window's opening size it stays hidden and the window looks as it
// always did; it shows by itself once the window is wide enough for both, or
// maximised. F9 and "Show people" in the transcript's menu show and hide it,
// which then holds whatever the width. Enter or a double click on a row puts
// "/msg <name> " in front of the message and gives the input box the keyboard;
// a row's menu sends the person a file, and in a hosted chat also shows the
// person out.

#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "chat/peoplelist.h"

class CRichEdit;
class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QTextEdit;

class CPeoplePane : public QWidget {
  Q_OBJECT

 public:
  // A child of `transcript`'s window, made before the window's anchors so that
  // it takes its share of the transcript's rectangle once they have placed it
  // (and before the find bar takes its own); `inputBox` gets the /msg lines.
  // `knownNames` gives the names a typed line may address.
  CPeoplePane(QTextEdit* transcript, CRichEdit* inputBox, std::function<std::vector<std::string>()> knownNames);

  // Shows what `people` holds now.
  void Show(const PeopleList& people);
  // In a hosted chat: each other person's row offers "Remove from chat…",
  // which calls `remove` with the name (null: no such entry).
  void SetRemover(std::function<void(const std::string&)> remove);
  // Each other person's row offers "Send a file…", which calls `send` with
  // the name while `can` says files can be shared.
  void SetFileSender(std::function<void(const std::string&)> send, std::function<bool()> can);
  // F9's action, checked while the pane shows: for the transcript's menu.
  QAction* ToggleAction() const { return toggle; }
  QListWidget* List() const { return list; }
  QLabel* Heading() const { return heading; }
  QLabel* Note() const { return note; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Whether the pane shows at the window's present size.
  bool Wanted() const;
  // Takes the pane's width from the right of the transcript's rectangle.
  void TakeShare();
  // Lays the window out again, so that every control takes its share anew.
  void Relayout();
  void Address(QListWidgetItem* row);
  void OfferMenu(const QPoint& at);

  QTextEdit* transcript;
  CRichEdit* inputBox;
  std::function<std::vector<std::string>()> knownNames;
  QLabel* heading;
  QListWidget* list;
  QLabel* note;
  QAction* toggle;
  std::optional<bool> chosen;  // the user's last F9 or menu choice
  std::function<void(const std::string&)> remove;
  std::function<void(const std::string&)> sendFile;
  std::function<bool()> canSendFile;
};
