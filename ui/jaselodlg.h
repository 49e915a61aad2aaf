#pragma once
// The chat window: the transcript, the five style buttons, the input box with
// its Send button; the owner of both network endpoints and of the poll thread
// (its CThread base) that turns queued chat messages into transcript lines.

#include <QIcon>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "chat/chatevent.h"
#include "chat/jaselonetwork.h"
#include "chat/rejoin.h"
#include "config/chatsettings.h"
#include "net/thread.h"
#include "ui/toolkit/charformat.h"
#include "ui/toolkit/toolkit.h"

class CBackgroundAlert;
class CChatAnnouncer;
class CNicknameCompleter;
class CNotifier;
class CRichEdit;
class CTranscriptActions;
class QPushButton;

// Bytes one typed line may take: with the longest nickname and face name the
// chat message still fits one packet.
constexpr size_t MAX_INPUT_BYTES = 900;
// Paragraphs the transcript keeps: the oldest go as new lines come, so that a
// long or flooded chat does not grow the window's memory without end.
constexpr int TRANSCRIPT_MAX_PARAGRAPHS = 10000;
// Height of the input box's and of all transcript text, in twips (9.5 points).
constexpr int32_t TEXT_HEIGHT_TWIPS = 190;

// The poll thread is the window's own: nobody else starts, waits for or locks it.
class CJaseloDlg : public CDialog, private CThread {
 public:
  explicit CJaseloDlg(QWidget* parent = nullptr);
  ~CJaseloDlg() override;

  // The dialog's hooks keep the access CDialog gives them: the modal run calls
  // OnInitDialog, the close box and Escape lead to OnCancel.
  bool OnInitDialog() override;
  void OnCancel() override;
  // The program saves the settings with it once the window has ended.
  void WriteConfig();

 protected:
  void DoDataExchange() override;
  void OnCommand(int id) override;

 private:
  // The widget tests' one way in to what follows (tests/ui/ui_test_support).
  friend class CJaseloDlgProbe;

  // Life of the window.
  bool RunInitDialog();
  void StartNetwork();
  void ReadConfig();
  void WriteDefaultConfig();
  // "Jaselo -- " and the nickname, shown literally.
  void ShowTitle();

  // Chatting.
  void OnSend();
  // Sends the typed text as the line it asks for; false when nothing went.
  bool SendTyped(const std::string& typed);
  uint32_t ThreadProc() override;
  // Shows one event of the own client by its Type; other types are dropped.
  void DispatchEvent(ChatEvent& event);
  // Poll thread: what the own connection's state means for the user, and a
  // try to join again when one is due.
  void WatchConnection(bool ended, bool heard);
  void TryToRejoin();

  // Transcript; run on the poll thread (or, in tests, on any thread).
  void AppendSays(ChatEvent& event);
  void AppendPrivateSays(ChatEvent& event);
  void AppendJoined(ChatEvent& event);
  void AppendDisconnected(ChatEvent& event);
  void AppendBody(ChatEvent& event);
  // A notice about the own connection: lost, restored, not accepted.
  void AppendNotice(const std::string& text);
  // A private line the user sent, under "(*private*) to <addressee> :".
  void AppendOwnPrivate(const std::string& addressee, ChatEvent& line);
  // Shows the private lines sent since the last pass (poll thread).
  void AppendOwnLines();
  // A line from someone else that names the user.
  bool Mentions(const ChatEvent& event) const;
  // A desktop notification for an event, shown while the window is in the background.
  void NotifyDesktop(const ChatEvent& event);
  void AppendText(const std::string& text);
  // Sets how many paragraphs the transcript keeps (tests use a small bound).
  void SetTranscriptLimit(int paragraphs) { transcriptLimit = paragraphs; }

  // Style controls.
  void LoadButtonBitmaps();
  void SetButtonBitmaps();
  void ApplySettings();
  void OnChooseFont();
  void OnChooseColor();
  void OnToggleBold();
  void OnToggleItalic();
  void OnToggleUnderline();

  ChatSettings& Settings() { return settings; }
  void SetConfigPath(std::string path) { configPath = std::move(path); }
  CRichEdit* InputBox() const { return inputBox; }
  CRichEdit* Transcript() const { return transcript; }
  QPushButton* Button(int id) const;
  // The resource id of the image a style button shows, 0 when none.
  int ShownImage(int buttonId) const;
  CJaseloNetwork& ServerNetwork() { return serverNetwork; }
  bool IsRunning() const { return Running.load(); }
  bool IsPolling() const { return polling.load(); }
  // The poll loop has seen the own connection end and said so.
  bool ConnectionLost() const { return connectionLost.load(); }
  // Clears Running and waits for the poll thread, serving its pending transcript
  // operations meanwhile.
  void StopPollLoop();

  // Index of each image in `bitmaps`.
  enum ImageIndex { FONT, COLOR, BOLD_ON, BOLD_OFF, ITALIC_ON, ITALIC_OFF, UNDERLINE_ON, UNDERLINE_OFF };
  void SetButtonImage(int buttonId, ImageIndex image);
  // Bold, Italic or Underline: puts the state the settings hold on the input
  // box and on the effect's button. Toggle flips that state first.
  void ShowEffect(bool ChatSettings::*flag);
  void Toggle(bool ChatSettings::*flag);
  void StartPollLoop();
  void WaitForPollLoop();
  void LeaveAsClient();
  // Drops the oldest paragraphs once the transcript holds more than its bound.
  void TrimTranscript();
  // Appends one piece and marks it: links in received text, else the time
  // shown (and the tint of a header that names the user).
  void AppendPiece(const std::string& text, bool received, bool mention = false);

  QIcon icon;
  std::array<QIcon, 8> bitmaps;
  std::array<int, 8> bitmapIds{};
  bool bitmapsLoaded = false;
  CJaseloNetwork serverNetwork;
  CJaseloNetwork clientNetwork;
  // The server role's chat on the network, from the network start to its stop.
  std::unique_ptr<CChatAnnouncer> announcer;
  CTranscriptActions* transcriptActions = nullptr;
  CRichEdit* inputBox = nullptr;
  CRichEdit* transcript = nullptr;
  CBackgroundAlert* backgroundAlert = nullptr;  // a child of the window
  CNotifier* notifier = nullptr;                // a child of the window
  CNicknameCompleter* completer = nullptr;      // a child of the input box
  CharFormat inputFormat;
  CharFormat transcriptFormat;
  ChatSettings settings;
  int transcriptLimit = TRANSCRIPT_MAX_PARAGRAPHS;
  std::atomic<bool> Running{false};
  std::atomic<bool> polling{false};  // the poll thread has not yet left ThreadProc
  std::atomic<bool> leaving{false};  // the user is closing: the end of the connection is no loss
  std::atomic<bool> connectionLost{false};
  // Held by a try to join again while it restarts clientNetwork, and by the
  // UI thread while it sends or leaves on it.
  std::mutex clientStart;
  std::atomic<bool> sendable{false};
  RejoinWatch watch{false};  // the poll thread's, once the network has started
  std::string joinAddress;   // where the own client joins, for the tries
  bool closing = false;
  std::string configPath = "config.cfg";
  std::array<int, 8> shownImages{};  // by button id - IDC_FONT
  // Private lines sent from the UI thread, shown by the poll thread so that
  // they never come between the pieces of a received line.
  struct OwnPrivateLine {
    std::string addressee;
    ChatEvent line;
  };
  std::mutex ownLinesMutex;
  std::vector<OwnPrivateLine> ownLines;
};
