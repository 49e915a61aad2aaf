#pragma once
// Tab in the input box completes a nickname seen in the transcript: the word
// before the caret becomes the first name it begins (any letter case), the
// most recently seen first; at the start of the line with "/msg " in front,
// so that a private line is one Tab away. Tab again at once gives the next
// name that fits. With no word before the caret, Tab moves on as before.

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <string>
#include <vector>

class CRichEdit;

class CNicknameCompleter : public QObject {
  Q_OBJECT

 public:
  // Watches `box`'s keys and is destroyed with it.
  explicit CNicknameCompleter(CRichEdit* box);

  // An event of chat type `chatType` from `name` was shown; a departure
  // forgets the name.
  void OnChatEvent(uint16_t chatType, const std::string& name);

  // The names seen and not gone, the most recent first (UTF-8).
  const std::vector<std::string>& Names() const { return names; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Completes at the caret; false when there is no word before it.
  bool Complete();

  CRichEdit* box;
  std::vector<std::string> names;
  // The last completion, which a Tab right after it replaces by the next.
  struct Last {
    int start = -1;  // where the word began
    int end = -1;    // where the inserted text ends
    int revision = -1;
    QStringList candidates;
    int index = 0;
  } last;
};
