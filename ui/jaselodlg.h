#pragma once
// The chat window: the transcript, the five style buttons and the paper clip,
// the input box with its Send button; the owner of both network endpoints and
// of the poll thread (its CThread base) that turns queued chat messages into
// transcript lines.

#include <QIcon>
#include <QPointer>
#include <QTime>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "chat/chatevent.h"
#include "chat/handover.h"
#include "chat/hostedfiles.h"
#include "chat/jaselonetwork.h"
#include "chat/peoplelist.h"
#include "chat/rejoin.h"
#include "chat/sharing.h"
#include "config/chatsettings.h"
#include "config/hostsettings.h"
#include "net/thread.h"
#include "ui/stepthread.h"
#include "ui/toolkit/charformat.h"
#include "ui/toolkit/toolkit.h"

class CBackgroundAlert;
class CChatAnnouncer;
class CFileCards;
class CNicknameCompleter;
class CNotifier;
class CPeoplePane;
class CPicturePreview;
class CRichEdit;
class CTranscriptActions;
class QAction;
class QMimeData;
class QPushButton;

// Bytes one typed line may take: with the longest nickname and face name the
// chat message still fits one packet.
constexpr size_t MAX_INPUT_BYTES = 900;
// Paragraphs the transcript keeps: the oldest go as new lines come, so that a
// long or flooded chat does not grow the window's memory without end.
constexpr int TRANSCRIPT_MAX_PARAGRAPHS = 10000;
// Height of the input box's and of all transcript text, in twips (9.5 points).
constexpr int32_t TEXT_HEIGHT_TWIPS = 190;
// What the poll thread may hand over before it waits for the UI thread to
// show some of it.
constexpr size_t POLL_NEWS_LIMIT = 300;

// What the poll thread hands the UI thread to show, by value: a received chat
// event, or what the own connection's state means for the user. Another kind
// is one more alternative here and one more CJaseloDlg::Show.
struct ConnectionNotice {
  RejoinWatch::Notice notice;
};
// How a connection of the own client went: encrypted with which key, or not,
// or refused for the host's key.
struct ProtectionNotice {
  ConnectReport report;
};
// A try to join again has connected: what comes next is the new connection's.
struct Rejoined {};
// The host refused the chat's password, or did not look at it for `seconds`
// (REFUSED_*): nothing more is tried.
struct PasswordRefused {
  uint16_t reason;
  uint32_t seconds;
};
// The host keeps this participant's address out for `seconds`: its user
// showed it out (REFUSED_REMOVED), or a try to join again was turned away
// (REFUSED_CHAT_FULL...).
struct KeptOut {
  uint16_t reason;
  uint32_t seconds;
};
using PollNews = std::variant<ChatEvent, ConnectionNotice, ProtectionNotice, Rejoined, PasswordRefused, KeptOut>;

// How one try of the first join went, handed by the join thread to the UI
// thread.
struct JoinTry {
  bool connected = false;
  ConnectReport report;
  uint16_t refused = 0;  // the host's answer to the password: REFUSED_*, or 0
};

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
  // Files dropped anywhere on the window are shared.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // The widget tests' one way in to what follows (tests/ui/ui_test_support).
  friend class CJaseloDlgProbe;

  // Life of the window.
  bool RunInitDialog();
  // False, once the user was told, when the settings must be asked again.
  bool StartNetwork();
  void ReadConfig();
  void WriteDefaultConfig();
  // "Jaselo -- " and the nickname, shown literally.
  void ShowTitle();

  // Chatting.
  void OnSend();
  // Sends the typed text as the line it asks for; false when nothing went.
  bool SendTyped(const std::string& typed);
  // A line from the user in the user's style, its text still to be set.
  ChatEvent OwnLine() const;

  // Sharing files (jaselodlg_files.cpp).
  void SetUpSharing();
  // Where the joined host's file door is; none while the own client is not joined.
  std::optional<FileHost> FileHostNow();
  // Sends the line and the details of a file the host now keeps.
  bool AnnounceFile(const UploadedFile& uploaded);
  // Whom a file shared now goes to: the one a "/msg name" in the box is for,
  // else everybody (empty).
  std::string ShareTarget();
  // Asks for the files to share with `to` (empty: everybody).
  void OnShareFile(const std::string& to);
  void ShareFiles(const QStringList& paths, const std::string& to);
  // A paste or a drop on the input box: files are shared, a picture is shown
  // first; true when it was one of those.
  bool TakeMime(const QMimeData* source);
  void OfferPicture(const QImage& picture, const std::string& to);
  uint32_t ThreadProc() override;
  // Poll thread: hands `item` to the UI thread; waits while it is far behind.
  void Hand(PollNews item);
  // UI thread: shows what the poll thread handed over, a slice at a time.
  void ShowNews();
  void Show(ChatEvent& event) { DispatchEvent(event); }
  void Show(const ConnectionNotice& notice);
  void Show(const ProtectionNotice& notice);
  void Show(const Rejoined&) { JoinedAnew(); }
  void Show(const PasswordRefused& refused);
  void Show(const KeptOut& keptOut);
  // The host's user shows `name` out, having chosen for how long.
  void OfferRemoval(const std::string& name);
  // Shows one event of the own client by its Type; other types are dropped.
  void DispatchEvent(ChatEvent& event);
  // Who is in the chat: a connection of the own client has started, or
  // what is shown of the list may have changed.
  void JoinedAnew();
  void PeopleChanged();
  // Poll thread: a try to join again; true when it connected.
  bool TryToRejoin();
  // Under clientStart, off the UI thread: the own client joins joinAddress
  // (started anew first when `restart`); false when it did not connect.
  bool ConnectOwnClient(bool restart, ConnectReport& report);
  // How the own client joins: TLS first, trusting each host by the key it had
  // when first met (the host's own client: by the host's key).
  ClientSecurity JoinSecurity() const;
  // The first join, in steps: each try connects on the join thread, and the
  // UI thread, handed how it went, asks the user about a host whose key
  // changed or for the chat's password and tries again, or tells the user
  // why it did not join and ends the window, or starts the poll loop.
  // `restart`: the own client starts anew first (after a refused password);
  // `security`: the client joins with it from now on.
  void JoinStep(bool restart, std::optional<ClientSecurity> security = std::nullopt);
  void OnJoinStep(const JoinTry& tried);
  void JoinDone();
  void JoinFailed();
  // Join thread, after a connect inside TLS: waits for the host's first
  // answer (at most HELLO_ANSWER_WAIT, less when the window closes); the
  // reason it refused the password, or 0.
  uint16_t AwaitPasswordVerdict();
  // Server role: the host's key, made on its first run, and what it lets in;
  // false, once the user was told, when the chat cannot be hosted as asked.
  bool SecureHost();

  // Transcript (UI thread).
  void AppendSays(ChatEvent& event);
  void AppendPrivateSays(ChatEvent& event);
  void AppendJoined(ChatEvent& event);
  void AppendDisconnected(ChatEvent& event);
  // `shown`: the time the line was said, when not now.
  void AppendBody(ChatEvent& event, const QTime& shown = QTime());
  // A public line said before the own arrival, under "Earlier in this chat",
  // with the time it was said and muted; the last one closes the earlier lines.
  void AppendEarlier(ChatEvent& event);
  // A notice about the own connection: lost, restored, not accepted.
  void AppendNotice(const std::string& text);
  // A private line the user sent, under "(*private*) to <addressee> :".
  void AppendOwnPrivate(const std::string& addressee, ChatEvent& line);
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
  // The user's nickname as the settings hold it.
  Nickname Own() const { return Nickname(settings.Pseudo); }
  void SetConfigPath(std::string path) { configPath = std::move(path); }
  CRichEdit* InputBox() const { return inputBox; }
  CRichEdit* Transcript() const { return transcript; }
  QPushButton* Button(int id) const;
  // The resource id of the image a style button shows, 0 when none.
  int ShownImage(int buttonId) const;
  CJaseloNetwork& ServerNetwork() { return serverNetwork; }
  bool IsRunning() const { return Running.load(); }
  bool IsPolling() const { return HasHandle(); }
  // The first join is under way: the poll loop has not started yet.
  bool Joining() const { return joining; }
  // The window has told the user that the own connection ended.
  bool ConnectionLost() const { return connectionLost; }
  // Clears Running and waits for the poll thread, which never waits for
  // this one: at most the rest of its pass.
  void StopPollLoop();

  // Index of each image in `bitmaps`.
  enum ImageIndex { FONT, COLOR, BOLD_ON, BOLD_OFF, ITALIC_ON, ITALIC_OFF, UNDERLINE_ON, UNDERLINE_OFF };
  void SetButtonImage(int buttonId, ImageIndex image);
  // Bold, Italic or Underline: puts the state the settings hold on the input
  // box and on the effect's button. Toggle flips that state first.
  void ShowEffect(bool ChatSettings::*flag);
  void Toggle(bool ChatSettings::*flag);
  void StartPollLoop();
  // Clears Running and wakes the poll thread to see it.
  void AskPollLoopToEnd();
  // The close, in steps run by the UI thread's timers, so that the window
  // answers throughout: the own departure, the endpoints' stops with their
  // moments for the last notices, then the end of the poll thread.
  void LeaveAsClient();
  void StopOwnClient();
  void EndPollLoop();
  void OnPollLoopEnded();
  void FinishClosing();
  template <typename Step>
  void After(std::chrono::milliseconds wait, Step step);
  // Drops the oldest paragraphs once the transcript holds more than its bound.
  void TrimTranscript();
  // Appends one piece and marks it: links in received text, else the time
  // shown (and the tint of a header that names the user).
  void AppendPiece(const std::string& text, bool received, bool mention = false, const QTime& shown = QTime());

  // Owned by the UI thread.
  QIcon icon;
  std::array<QIcon, 8> bitmaps;
  std::array<int, 8> bitmapIds{};
  bool bitmapsLoaded = false;
  // The server role's chat on the network, from the network start to its stop.
  std::unique_ptr<CChatAnnouncer> announcer;
  CTranscriptActions* transcriptActions = nullptr;
  CRichEdit* inputBox = nullptr;
  CRichEdit* transcript = nullptr;
  CBackgroundAlert* backgroundAlert = nullptr;  // a child of the window
  CNotifier* notifier = nullptr;                // a child of the window
  CNicknameCompleter* completer = nullptr;      // a child of the input box
  CPeoplePane* peoplePane = nullptr;            // a child of the window
  CFileCards* fileCards = nullptr;              // a child of the transcript
  QAction* shareAction = nullptr;               // "Share a file…", a child of the window
  QPointer<CPicturePreview> lastPreview;        // the pasted picture's preview, while it shows
  PeopleList people;
  bool showingEarlier = false;  // earlier lines are being shown, their last not yet
  CharFormat inputFormat;
  CharFormat transcriptFormat;
  ChatSettings settings;
  HostSettings hostSettings;  // beside config.cfg, for the server role
  int transcriptLimit = TRANSCRIPT_MAX_PARAGRAPHS;
  bool connectionLost = false;
  bool joining = false;
  bool askedAboutKey = false;  // during the first join: about the host's new key
  // The host joined needs no question before a join in plain text: it was
  // chosen in the list of announced chats, or the user agreed once.
  bool plainAgreed = false;
  bool closing = false;
  bool awaitingPollEnd = false;  // the close waits for OnPollLoopEnded
  bool pollEnded = false;
  std::string configPath = "config.cfg";
  std::array<int, 8> shownImages{};  // by button id - IDC_FONT

  // Owned by the poll thread once the network has started: whether to drain
  // the server's queue, its look at the own connection, and where and as
  // whom its tries join again (the first join's steps, before, join there).
  bool hosting = false;
  std::string announcedKey;  // the short key of the listed chat chosen, if any
  KeyDigest hostKey;         // server role: the chat's key, once made
  std::string ownPass;       // server role: what the own client gives instead of the password
  RejoinWatch watch{false};
  std::string joinAddress;
  std::string joinPassword;  // the chat's password the user gave, for the tries too
  uint16_t joinPort = 0;
  Nickname joinName;

  // Shared by the two threads, each with its guard:
  // - the endpoints, which guard themselves (the UI thread starts, sends on
  //   and stops them; the poll thread drains them and restarts the own client);
  // - `news`, its own lock: the poll thread puts, the UI thread takes;
  // - `clientStart`, held by a try to join again and by the first join's
  //   steps while they restart or connect clientNetwork, and by the UI
  //   thread while it sends or leaves on it;
  // - the atomic flags below.
  // The files the chat's participants share, when hosting: declared before
  // the server, which hands it connections, so that it outlives it.
  HostedFiles hostedFiles;
  CJaseloNetwork serverNetwork;
  CJaseloNetwork clientNetwork;
  CHandover<PollNews> news{POLL_NEWS_LIMIT};
  std::mutex clientStart;
  CStepThread joinThread;  // the first join's steps: the UI thread starts and stops them
  std::atomic<bool> Running{false};
  WakeEvent pollWake;                 // signalled after Running is cleared
  std::atomic<bool> leaving{false};   // the user is closing: the end of the connection is no loss
  std::atomic<bool> sendable{false};  // the own client may send (the poll thread's look)
};
