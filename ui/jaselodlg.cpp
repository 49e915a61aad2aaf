#include "ui/jaselodlg.h"

#include <strings.h>
#include <QPushButton>
#include <QTextCursor>
#include <chrono>
#include <cstdio>

#include "chat/pollloop.h"
#include "config/configfile.h"
#include "discovery/chatannouncer.h"
#include "protocol/headers.h"
#include "ui/backgroundalert.h"
#include "ui/jaselodlginit.h"
#include "ui/nicknamecompleter.h"
#include "ui/notifier.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/anchors.h"
#include "ui/toolkit/keyforwarder.h"
#include "ui/toolkit/richedit.h"
#include "ui/toolkit/textlimit.h"
#include "ui/transcriptactions.h"
#include "ui/typedline.h"

using namespace std::chrono_literals;

CJaseloDlg::CJaseloDlg(QWidget* parent) : CDialog(ChatWindowTemplate(), parent), icon(LoadIconResource(IDR_MAINFRAME)) {
  settings.Bold = settings.Italic = settings.Underline = false;
  settings.Port = 0;
  for (auto& part : settings.Ip) part = 0;
  settings.Color = 0;
  settings.Police[0] = '\0';
  settings.Pseudo[0] = '\0';
}

CJaseloDlg::~CJaseloDlg() {
  // No pass of the poll loop may run while the members go.
  StopPollLoop();
}

void CJaseloDlg::DoDataExchange() {
  inputBox = Item<CRichEdit>(IDC_INPUTBOX);
  transcript = Item<CRichEdit>(IDC_TRANSCRIPT);
  // Enter in the input box presses Send.
  inputBox->SetWantReturn(false);
  // A line the box allows must fit one message whether or not settings were read.
  inputBox->LimitText(MAX_INPUT_BYTES);
  transcript->document()->setUndoRedoEnabled(false);
  new CKeyForwarder(transcript, inputBox);
  new CTranscriptActions(this, transcript, inputBox);
  backgroundAlert = new CBackgroundAlert(this);
  notifier = new CNotifier(this);
  completer = new CNicknameCompleter(inputBox);
  // The limit counts what Send sends: a private line's text and addressee.
  inputBox->SetLimitMeasure([this](const std::string& typed) { return LimitBytes(typed, completer->Names()); });
  // Made larger, the transcript and the input box take the room; the buttons
  // keep to their corners. Created after the find bar, whose share of the
  // transcript follows from the rectangle these give it.
  auto* anchors = new CAnchors(this);
  anchors->Anchor(transcript, ANCHOR_ALL);
  anchors->Anchor(inputBox, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
  for (const int id : {IDC_FONT, IDC_COLOR, IDC_BOLD, IDC_ITALIC, IDC_UNDERLINE})
    anchors->Anchor(Button(id), ANCHOR_LEFT | ANCHOR_BOTTOM);
  anchors->Anchor(Button(IDC_SEND), ANCHOR_RIGHT | ANCHOR_BOTTOM);
}

void CJaseloDlg::OnCommand(int id) {
  switch (id) {
    case IDC_SEND: OnSend(); break;
    case IDC_FONT: OnChooseFont(); break;
    case IDC_COLOR: OnChooseColor(); break;
    case IDC_BOLD: OnToggleBold(); break;
    case IDC_ITALIC: OnToggleItalic(); break;
    case IDC_UNDERLINE: OnToggleUnderline(); break;
    default: break;
  }
}

QPushButton* CJaseloDlg::Button(int id) const { return Item<QPushButton>(id); }

// --- Life of the window ---------------------------------------------------

bool CJaseloDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  setWindowIcon(icon);
  LoadButtonBitmaps();
  SetButtonBitmaps();
  settings.Bold = settings.Italic = settings.Underline = false;
  ReadConfig();
  if (RunInitDialog()) StartNetwork();
  ShowTitle();
  // The user can type at once.
  inputBox->GiveFocus();
  return false;
}

void CJaseloDlg::ShowTitle() {
  // Qt takes "[*]" in a title for the modified mark and hides it; "[*][*]" shows
  // one "[*]".
  QString nickname = QString::fromUtf8(settings.Pseudo);
  nickname.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
  setWindowTitle(QStringLiteral("Jaselo -- ") + nickname);
}

bool CJaseloDlg::RunInitDialog() {
  InitData data;
  data.Role = settings.Role;
  for (int i = 0; i < 4; ++i) data.Ip[i] = settings.Ip[i];
  data.Port = settings.Port;
  data.Pseudo = settings.Pseudo;
  CJaseloDlgInit DlgInit(nullptr, &data);
  const int result = DlgInit.DoModal();
  if (result == IDOK) {
    settings.Role = data.Role;
    settings.NeitherOrBothRoles = false;
    CopySettingText(settings.Pseudo, data.Pseudo);
    for (int i = 0; i < 4; ++i) settings.Ip[i] = static_cast<uint16_t>(data.Ip[i]);
    settings.Port = static_cast<uint16_t>(data.Port);
    return true;
  }
  if (result == IDCANCEL) {
    EndDialog(0);
    return false;
  }
  return true;
}

void CJaseloDlg::StartNetwork() {
  char ClientName[32];
  char _Ip[24];  // room for parts above 255 from a hand-edited file
  std::snprintf(_Ip, sizeof _Ip, "%d.%d.%d.%d", settings.Ip[0], settings.Ip[1], settings.Ip[2], settings.Ip[3]);
  if (settings.Role == TYPE_CLIENT) {
    CopyUtf8(ClientName, sizeof ClientName, settings.Pseudo);
    if (!clientNetwork.StartupClient(ClientName)) {
      MessageBox(nullptr, QStringLiteral("Unable to create the client !"), QStringLiteral("Error"), true);
      EndDialog(0);
      return;
    }
    if (!clientNetwork.ClientConnect(_Ip, settings.Port)) {
      MessageBox(nullptr, QStringLiteral("Connection to the server failed !"), QStringLiteral("Error"), true);
      EndDialog(0);
      return;
    }
    joinAddress = _Ip;
    watch = RejoinWatch(true);
    watch.Started(RejoinClock::now());
    sendable = true;
    StartPollLoop();
  } else {
    if (!serverNetwork.StartupServer()) {
      MessageBox(nullptr, QStringLiteral("Unable to create the server !"), QStringLiteral("Error"), true);
      EndDialog(0);
      return;
    }
    // A failure to listen goes unnoticed here, as does the own client's.
    serverNetwork.ServerListen(settings.Port);
    CopyUtf8(ClientName, sizeof ClientName, settings.Pseudo);
    clientNetwork.StartupClient(ClientName);
    // Join the port actually bound, which differs from Port only for port 0.
    const uint16_t bound = serverNetwork.ListeningPort();
    if (clientNetwork.ClientConnect(_Ip, bound != 0 ? bound : settings.Port)) {
      // People lists mark the user of this window as the host's.
      serverNetwork.SetOwnUser(clientNetwork.LocalAddressOfConnection());
    }
    // Its own server gone, the own client has nothing to join again.
    watch.Started(RejoinClock::now());
    sendable = true;
    if (bound != 0) {
      announcer = std::make_unique<CChatAnnouncer>(settings.Pseudo, bound);
      announcer->Start();
    }
    StartPollLoop();
  }
}

void CJaseloDlg::StartPollLoop() {
  Running = true;
  polling = true;
  Start();
  if (!HasHandle()) polling = false;  // the thread could not be created
}

void CJaseloDlg::WaitForPollLoop() {
  // The poll thread may be waiting for a transcript operation of this thread.
  while (polling.load()) ServeUiUntil([this] { return !polling.load(); }, std::chrono::hours(1));
  Wait();
  Close();
}

void CJaseloDlg::StopPollLoop() {
  Running = false;
  WaitForPollLoop();
}

// Both roles leave the chat the same way: the own departure, a moment for it
// to go out, then the own client stops and the poll loop is told to end.
// A connection already lost gets no departure: there is nobody to tell.
void CJaseloDlg::LeaveAsClient() {
  // A try under way ends first (within its connect bound); with `leaving` set
  // none begins after it.
  std::unique_lock lock(clientStart, std::defer_lock);
  ServeUiUntil([&] { return lock.try_lock(); }, std::chrono::hours(1));
  if (clientNetwork.IsActive()) {
    char _Name[32];
    CopyUtf8(_Name, sizeof _Name, settings.Pseudo);
    clientNetwork.SendDisconnectMessage(_Name);
    ServeUiFor(100ms);
  }
  clientNetwork.StopClient();
  Running = false;
}

void CJaseloDlg::OnCancel() {
  if (closing) return;  // a second close while the first is waiting
  closing = true;
  leaving = true;
  if (settings.Role == TYPE_CLIENT) {
    LeaveAsClient();
    ServeUiFor(100ms);
    WaitForPollLoop();
  } else {
    announcer.reset();  // nobody should find a chat that is closing
    LeaveAsClient();
    serverNetwork.SendDisconnectMessage(SERVER_SHUTDOWN_NAME);
    ServeUiFor(100ms);
    serverNetwork.StopServer();
    WaitForPollLoop();
  }
  CDialog::OnCancel();
}

void CJaseloDlg::ReadConfig() {
  ChatSettings read;
  if (!ReadConfigFile(configPath, read)) {
    WriteDefaultConfig();
    return;
  }
  settings = read;
  ApplySettings();
}

void CJaseloDlg::WriteConfig() { WriteConfigFile(configPath, settings); }

void CJaseloDlg::WriteDefaultConfig() {
  WriteDefaultConfigFile(configPath);
  settings = ChatSettings{};
}

// --- Chatting --------------------------------------------------------------

// The box is emptied only once the line is on its way: a line that cannot be
// sent (no connection, too long for one message, a failed send, too much
// still waiting for a server that stopped reading) stays for the user.
void CJaseloDlg::OnSend() {
  const int n = inputBox->GetTextLength();
  if (n <= 0) return;
  // While a try restarts the client, the line waits in the box.
  const std::unique_lock lock(clientStart, std::try_to_lock);
  if (!lock.owns_lock() || !sendable.load() || !clientNetwork.IsActive()) return;
  const QTextCursor where = inputBox->textCursor();
  inputBox->SetSel(0, n);
  const std::string text = inputBox->GetSelText();
  if (SendTyped(text)) inputBox->ReplaceSel("", true);
  else inputBox->setTextCursor(where);
  inputBox->GiveFocus();
}

bool CJaseloDlg::SendTyped(const std::string& typed) {
  const TypedLine typedLine = ParseTypedLine(typed, completer->Names());
  if (typedLine.kind == TypedLine::Kind::Incomplete) return false;
  ChatEvent line;
  line.SetName(settings.Pseudo);
  line.SetText(typedLine.text);
  line.SetPolice(settings.Police);
  line.Style() = {.Bold = settings.Bold,
                  .Italic = settings.Italic,
                  .Underline = settings.Underline,
                  .Red = ColorRed(settings.Color),
                  .Green = ColorGreen(settings.Color),
                  .Blue = ColorBlue(settings.Color)};
  if (typedLine.kind == TypedLine::Kind::Public) return clientNetwork.SendChatMessage(line);
  if (!clientNetwork.SendPrivateChatMessage(line, typedLine.addressee.c_str())) return false;
  // The server sends a private line to its addressee alone: the sender's own
  // transcript shows it from here.
  const std::lock_guard<std::mutex> lock(ownLinesMutex);
  ownLines.push_back({typedLine.addressee, std::move(line)});
  return true;
}

void CJaseloDlg::DispatchEvent(ChatEvent& event) {
  if (backgroundAlert) backgroundAlert->OnChatEvent(event.Type);
  if (completer && event.Name.get() && strcasecmp(event.Name.get(), settings.Pseudo) != 0)
    completer->OnChatEvent(event.Type, event.Name.get());
  NotifyDesktop(event);
  switch (event.Type) {
    case CHAT_SAYS: AppendSays(event); break;
    case CHAT_PRIVATE: AppendPrivateSays(event); break;
    case CHAT_JOINED: AppendJoined(event); break;
    case CHAT_DISCONNECTED: AppendDisconnected(event); break;
    default: break;  // unrelayed lines and anything unknown are not shown
  }
}

uint32_t CJaseloDlg::ThreadProc() {
  ChatEvent event;
  auto release = [&event] {
    event.Name.Reset();
    event.Text.Reset();
    event.Police.Reset();
  };
  RunPollLoop(Running, [&] {
    // Read before draining: whatever arrived before the end is then shown
    // before the notice.
    const bool ended = !clientNetwork.IsActive();
    const bool heard = clientNetwork.QueuedCount() > 0;
    AppendOwnLines();
    DrainQueue(clientNetwork, event, [&](ChatEvent& received) {
      DispatchEvent(received);
      release();
    });
    if (!leaving.load()) WatchConnection(ended, heard);
    // Handling the server's queue is what relays, routes and forgets clients;
    // its events are not shown (the own client shows everything).
    if (settings.Role == TYPE_SERVER) DrainQueue(serverNetwork, event, [&](ChatEvent&) { release(); });
  });
  polling = false;
  return 0;
}

void CJaseloDlg::WatchConnection(bool ended, bool heard) {
  const RejoinWatch::Notice notice = watch.Look(!ended, heard, RejoinClock::now());
  // Send follows the connection before the user reads the notice.
  sendable = watch.Sendable();
  switch (notice) {
    case RejoinWatch::Notice::Lost:
      AppendNotice("Connection to the server lost !");
      connectionLost = true;
      break;
    case RejoinWatch::Notice::Restored: AppendNotice("Connection to the server restored !"); break;
    case RejoinWatch::Notice::Refused:
      AppendNotice("The server did not accept " + std::string(settings.Pseudo) + " !");
      break;
    case RejoinWatch::Notice::None: break;
  }
  if (watch.TryDue(RejoinClock::now())) TryToRejoin();
}

// The ordinary client start again, on the poll thread: the window stays
// responsive while it connects, and nothing is shown until it is over.
void CJaseloDlg::TryToRejoin() {
  const std::lock_guard lock(clientStart);
  if (leaving.load()) return;
  PrepareRejoinTry(clientNetwork);
  char ClientName[32];
  CopyUtf8(ClientName, sizeof ClientName, settings.Pseudo);
  if (clientNetwork.StartupClient(ClientName) && clientNetwork.ClientConnect(joinAddress.c_str(), settings.Port)) {
    watch.Started(RejoinClock::now());
  } else {
    watch.TryFailed(RejoinClock::now());
  }
}
