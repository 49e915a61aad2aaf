#pragma once
// The transcript's commands beyond reading: Find… (Ctrl+F) opens the find bar,
// Save transcript… (Ctrl+S) writes it to a file, and on a host Join from a
// phone… (Ctrl+J) shows where browsers join; all also in the transcript's
// context menu next to Copy and Select All. Also sets up the links and the
// line times of the transcript.

#include <QObject>
#include <QPoint>
#include <QStringList>
#include <functional>
#include <vector>

struct Invitation;
class CFindBar;
class CTranscriptMarks;
class QAction;
class QMenu;
class QTextEdit;
class QWidget;

class CTranscriptActions : public QObject {
  Q_OBJECT

 public:
  // A child of `window`; `inputBox` gets the focus back when the find bar closes.
  CTranscriptActions(QWidget* window, QTextEdit* transcript, QWidget* inputBox);

  // The context menu for the viewport point `at`; the caller owns it.
  QMenu* CreateMenu(const QPoint& at) const;
  // Another command for the end of the menu.
  void AddMenuAction(QAction* action) { more.push_back(action); }
  CFindBar* FindBar() const { return findBar; }
  CTranscriptMarks* Marks() const { return marks; }
  QAction* SaveAction() const { return save; }
  // On a host: offers the invitation, with the page's addresses of the moment.
  void OfferInvitation(std::function<Invitation()> invitation);
  QAction* InviteAction() const { return invite; }

 private:
  QTextEdit* transcript;
  CFindBar* findBar;
  CTranscriptMarks* marks;
  QAction* find;
  QAction* save;
  QAction* invite = nullptr;
  std::vector<QAction*> more;
};
