#include "ui/jaselodlg.h"

#include <QListWidget>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <chrono>
#include <cstdio>

#include "chat/pollloop.h"
#include "chat/turnedaway.h"
#include "config/configfile.h"
#include "discovery/chatannouncer.h"
#include "discovery/chatservice.h"
#include "net/clienttable.h"
#include "net/localaddresses.h"
#include "net/security.h"
#include "protocol/diagnostics.h"
#include "protocol/headers.h"
#include "trust/passbook.h"
#include "trust/privatefiles.h"
#include "ui/backgroundalert.h"
#include "ui/filecards.h"
#include "ui/jaselodlginit.h"
#include "ui/joinfromphone.h"
#include "ui/nicknamecompleter.h"
#include "ui/notifier.h"
#include "ui/peoplepane.h"
#include "ui/removal.h"
#include "ui/resource.h"
#include "ui/resources.h"
#include "ui/toolkit/anchors.h"
#include "ui/toolkit/keyforwarder.h"
#include "ui/toolkit/richedit.h"
#include "ui/toolkit/textlimit.h"
#include "ui/transcriptactions.h"
#include "ui/trustprompts.h"
#include "ui/typedline.h"
#include "web/frontdoor.h"

using namespace std::chrono_literals;

CJaseloDlg::CJaseloDlg(QWidget* parent) : CDialog(ChatWindowTemplate(), parent), icon(LoadIconResource(IDR_MAINFRAME)) {
  settings.Bold = settings.Italic = settings.Underline = false;
  settings.Port = 0;
  for (auto& part : settings.Ip) part = 0;
  settings.Color = 0;
  settings.Police[0] = '\0';
  settings.Pseudo[0] = '\0';
}

namespace {
// The UI thread shows handed-over news in slices of about this long.
constexpr std::chrono::milliseconds SHOW_SLICE{10};
}  // namespace

CJaseloDlg::~CJaseloDlg() {
  // No step of the first join nor pass of the poll loop may run while the
  // members go.
  joinThread.Stop();
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
  transcriptActions = new CTranscriptActions(this, transcript, inputBox);
  backgroundAlert = new CBackgroundAlert(this);
  notifier = new CNotifier(this);
  completer = new CNicknameCompleter(inputBox);
  // Beside the transcript, taking its share of the transcript's rectangle
  // after the anchors (made below) and before the find bar (made above).
  peoplePane = new CPeoplePane(transcript, inputBox, [this] { return completer->Names(); });
  transcriptActions->AddMenuAction(peoplePane->ToggleAction());
  // In reading order: the list stands right of the transcript, above the find bar.
  QWidget::setTabOrder(transcript, peoplePane->List());
  // The limit counts what Send sends: a private line's text and addressee.
  inputBox->SetLimitMeasure([this](const std::string& typed) { return LimitBytes(typed, completer->Names()); });
  SetUpSharing();
  // Made larger, the transcript and the input box take the room; the buttons
  // keep to their corners. Created after the find bar, whose share of the
  // transcript follows from the rectangle these give it.
  auto* anchors = new CAnchors(this);
  anchors->Anchor(transcript, ANCHOR_ALL);
  anchors->Anchor(inputBox, ANCHOR_LEFT | ANCHOR_RIGHT | ANCHOR_BOTTOM);
  for (const int id : {IDC_FONT, IDC_COLOR, IDC_BOLD, IDC_ITALIC, IDC_UNDERLINE, IDC_ATTACH})
    anchors->Anchor(Button(id), ANCHOR_LEFT | ANCHOR_BOTTOM);
  anchors->Anchor(Button(IDC_SEND), ANCHOR_RIGHT | ANCHOR_BOTTOM);
}

void CJaseloDlg::OnCommand(int id) {
  if (closing) return;  // the window answers while it closes, but takes no more commands
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
  // A chat that cannot be hosted as asked takes the user back to the settings.
  while (RunInitDialog() && !StartNetwork()) {
  }
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
  data.Password = hostSettings.password;
  data.EncryptedOnly = hostSettings.encryptedOnly;
  CJaseloDlgInit DlgInit(nullptr, &data);
  const int result = DlgInit.DoModal();
  if (result == IDOK) {
    settings.Role = data.Role;
    settings.NeitherOrBothRoles = false;
    CopySettingText(settings.Pseudo, data.Pseudo);
    for (int i = 0; i < 4; ++i) settings.Ip[i] = static_cast<uint16_t>(data.Ip[i]);
    settings.Port = static_cast<uint16_t>(data.Port);
    announcedKey = data.AnnouncedKey;
    // A typed address's host that offers no encryption is asked about again.
    plainAgreed = data.Announced;
    HostSettings chosen = hostSettings;
    chosen.password = data.Password;
    chosen.encryptedOnly = data.EncryptedOnly;
    std::string error;
    if (chosen != hostSettings && !WriteHostSettings(HostSettingsPath(configPath), chosen, error)) {
      Diag("CJaseloDlg::RunInitDialog() - %s\n", error.c_str());
    }
    hostSettings = chosen;
    return true;
  }
  if (result == IDCANCEL) {
    EndDialog(0);
    return false;
  }
  return true;
}

bool CJaseloDlg::StartNetwork() {
  const Nickname own = Own();
  char _Ip[24];  // room for parts above 255 from a hand-edited file
  std::snprintf(_Ip, sizeof _Ip, "%d.%d.%d.%d", settings.Ip[0], settings.Ip[1], settings.Ip[2], settings.Ip[3]);
  joinAddress = _Ip;
  joinPort = settings.Port;
  joinName = own;
  // Inside TLS the host gives a ticket to share files with, and tells of files shared.
  clientNetwork.SetAsksForFiles(true);
  if (settings.Role == TYPE_CLIENT) {
    clientNetwork.SetClientSecurity(JoinSecurity());
    if (!clientNetwork.StartupClient(own.c_str())) {
      MessageBox(nullptr, QStringLiteral("Unable to create the client !"), QStringLiteral("Error"), true);
      EndDialog(0);
      return true;
    }
  } else {
    if (!SecureHost()) return false;
    if (!serverNetwork.StartupServer()) {
      MessageBox(nullptr, QStringLiteral("Unable to create the server !"), QStringLiteral("Error"), true);
      EndDialog(0);
      return true;
    }
    // Said once each time the chat fills up, with who holds the seats.
    serverNetwork.SetFullWatch([this](const std::string& line) {
      QMetaObject::invokeMethod(
          this, [this, line] { AppendNotice(line + " !"); }, Qt::QueuedConnection);
    });
    // A failure to listen goes unnoticed here, as does the own client's.
    serverNetwork.ServerListen(settings.Port);
    clientNetwork.SetClientSecurity(JoinSecurity());
    clientNetwork.StartupClient(own.c_str());
    // Join the port actually bound, which differs from Port only for port 0.
    const uint16_t bound = serverNetwork.ListeningPort();
    if (bound != 0) joinPort = bound;
    // Its own server gone, the own client has nothing to join again.
    hosting = true;
    peoplePane->SetRemover([this](const std::string& name) { OfferRemoval(name); });
    if (bound != 0) {
      announcer = std::make_unique<CChatAnnouncer>(own.str(), bound, hostKey.ShortHex());
      announcer->Start();
      const bool encrypted = hostKey != KeyDigest();
      // Where the chat takes plain connections, the page without the
      // browser's warning is offered too, said to be unencrypted.
      const bool plainToo = encrypted && hostSettings.password.empty() && !hostSettings.encryptedOnly;
      const QString key = encrypted ? QString::fromStdString(hostKey.Grouped()) : QString();
      transcriptActions->OfferInvitation([bound, encrypted, plainToo, key] {
        Invitation invitation{{}, key, {}};
        for (const std::string& address : LocalIPv4Addresses()) {
          invitation.pages << QString::fromStdString(PageUrl(address, bound, encrypted));
          if (plainToo) invitation.plainPages << QString::fromStdString(PageUrl(address, bound, false));
        }
        return invitation;
      });
    }
  }
  joining = true;
  JoinStep(false);
  return true;
}

ClientSecurity CJaseloDlg::JoinSecurity() const {
  ClientSecurity security;
  std::string error;
  security.tls = TlsContext::ForClient(error);
  if (settings.Role == TYPE_SERVER) {
    // The own client knows its host's key: no other may answer in its place.
    // It gives the host's own pass, never the password, so that nobody
    // guessing from this machine holds the host's user back.
    security.announcedKey = hostKey != KeyDigest() ? hostKey.ShortHex() : "";
    security.pass = ownPass;
  } else {
    security.knownHosts = std::make_shared<KnownHosts>(DataFolderPath() + "/" + KNOWN_HOSTS_FILE);
    security.passes = std::make_shared<PassBook>(DataFolderPath() + "/" + PASSES_FILE);
    security.announcedKey = announcedKey;
    security.askBeforePlain = !plainAgreed;
    security.password = joinPassword;
  }
  return security;
}

void CJaseloDlg::JoinStep(bool restart, std::optional<ClientSecurity> security) {
  const bool awaitVerdict = settings.Role == TYPE_CLIENT;
  joinThread.Run([this, restart, awaitVerdict, security = std::move(security)]() mutable {
    JoinTry tried;
    {
      const std::lock_guard lock(clientStart);
      // Kept across the restart's cleanup.
      if (security) clientNetwork.SetClientSecurity(std::move(*security));
      tried.connected = ConnectOwnClient(restart, tried.report);
    }
    // The host's own client gives its own password: no refusal can come.
    if (tried.connected && awaitVerdict) tried.refused = AwaitPasswordVerdict();
    QMetaObject::invokeMethod(
        this, [this, tried] { OnJoinStep(tried); }, Qt::QueuedConnection);
  });
}

void CJaseloDlg::OnJoinStep(const JoinTry& tried) {
  // Closing, the window leaves the join to the close, which ends its thread.
  if (closing) {
    joining = false;
    return;
  }
  if (settings.Role == TYPE_SERVER) {
    if (tried.connected) {
      Show(ProtectionNotice{tried.report});
      // People lists mark the user of this window as the host's.
      serverNetwork.SetOwnUser(clientNetwork.LocalAddressOfConnection());
    }
    JoinDone();
    return;
  }
  const QString where = QStringLiteral("%1:%2").arg(QString::fromStdString(joinAddress)).arg(joinPort);
  if (tried.connected && tried.refused == REFUSED_WRONG_PASSWORD) {
    // The host wants a password, or another one: the user is asked.
    std::string password;
    if (!AskChatPassword(nullptr, where, !joinPassword.empty(), password)) return JoinFailed();
    joinPassword = password;
    JoinStep(true, JoinSecurity());
    return;
  }
  if (tried.connected && (IsTurnedAway(tried.refused) || tried.refused == REFUSED_REMOVED)) {
    const QString why = KeptOutNotice(tried.refused, clientNetwork.KeptOutSeconds());
    MessageBox(nullptr, QStringLiteral("The chat at %1 did not take you in.\n\n%2").arg(where, why),
               QStringLiteral("Error"), true);
    return JoinFailed();
  }
  if (tried.connected && IsPasswordRefusal(tried.refused)) {
    const std::string why = PasswordWaitText(tried.refused, clientNetwork.KeptOutSeconds());
    MessageBox(
        nullptr,
        QStringLiteral("The chat at %1 did not look at your password.\n\n%2.").arg(where, QString::fromStdString(why)),
        QStringLiteral("Error"), true);
    return JoinFailed();
  }
  if (tried.connected) {
    // A new key accepted once is the one remembered from now on: later
    // joins must not accept yet another.
    if (askedAboutKey) clientNetwork.SetClientSecurity(JoinSecurity());
    Show(ProtectionNotice{tried.report});
    watch = RejoinWatch(true);
    JoinDone();
    return;
  }
  if (tried.report.outcome == ConnectReport::Outcome::KeyChanged) {
    if (askedAboutKey || !ConfirmChangedKey(nullptr, where, tried.report)) return JoinFailed();
    askedAboutKey = true;
    ClientSecurity anyway = JoinSecurity();
    anyway.acceptNewKey = true;
    JoinStep(false, std::move(anyway));
    return;
  }
  if (tried.report.outcome == ConnectReport::Outcome::PlainOffered) {
    if (plainAgreed || !ConfirmPlainHost(nullptr, where)) return JoinFailed();
    plainAgreed = true;
    JoinStep(false, JoinSecurity());
    return;
  }
  if (tried.report.outcome == ConnectReport::Outcome::KnownHostsUnreadable) {
    MessageBox(
        nullptr,
        QStringLiteral("The list of hosts this computer has met cannot be read, so the key of the host at %1 "
                       "cannot be checked: not connected.\n\n%2.\n\nFile: %3")
            .arg(where, QString::fromStdString(tried.report.problem), QString::fromStdString(tried.report.knownHosts)),
        QStringLiteral("Error"), true);
    return JoinFailed();
  }
  if (tried.report.outcome == ConnectReport::Outcome::PlainRefused) {
    MessageBox(nullptr,
               QStringLiteral("The server at %1 offered encryption before and does not now: not connected.\n\n"
                              "Someone may be posing as it to read the chat.")
                   .arg(where),
               QStringLiteral("Error"), true);
    return JoinFailed();
  }
  MessageBox(nullptr, QStringLiteral("Connection to the server failed !"), QStringLiteral("Error"), true);
  JoinFailed();
}

void CJaseloDlg::JoinDone() {
  joining = false;
  watch.Started(RejoinClock::now());
  sendable = true;
  JoinedAnew();
  StartPollLoop();
}

void CJaseloDlg::JoinFailed() {
  joining = false;
  EndDialog(0);
}

uint16_t CJaseloDlg::AwaitPasswordVerdict() {
  // Only our own hosts answer inside TLS, and they answer at once: with the
  // people in the chat, or with the refusal before they close.
  if (clientNetwork.LastConnect().outcome != ConnectReport::Outcome::Encrypted) return 0;
  const auto until = std::chrono::steady_clock::now() + HELLO_ANSWER_WAIT;
  for (auto now = std::chrono::steady_clock::now();
       clientNetwork.IsActive() && clientNetwork.QueuedCount() == 0 && now < until;
       now = std::chrono::steady_clock::now()) {
    // Woken by the host's answer or the connection's end; a close cuts the
    // wait short.
    if (!joinThread.Await(clientNetwork.News(), std::chrono::ceil<std::chrono::milliseconds>(until - now))) break;
  }
  // A refusal arrives before the close it announces.
  return clientNetwork.IsActive() ? 0 : clientNetwork.Refusal();
}

bool CJaseloDlg::SecureHost() {
  HostSetup setup;
  std::string error;
  if (!SetUpHost(DataFolderPath(), hostSettings.password, hostSettings.encryptedOnly, MachineName(), setup, error)) {
    QString why = QString::fromStdString(error);
    why[0] = why[0].toUpper();
    MessageBox(nullptr, QStringLiteral("Unable to create the server !\n\n%1.").arg(why), QStringLiteral("Error"), true);
    return false;
  }
  if (!setup.noKey.empty()) {
    Diag("CJaseloDlg::StartNetwork() - no host key (%s): the chat is not encrypted\n", setup.noKey.c_str());
  }
  hostKey = setup.key;
  ownPass = setup.security.ownPass;
  serverNetwork.SetWebSettings(setup.web);
  serverNetwork.SetHostSecurity(std::move(setup.security));
  ShareLimits limits;
  limits.largestFile = uint64_t{hostSettings.shareLargestMiB} << 20;
  limits.totalKept = uint64_t{hostSettings.shareTotalMiB} << 20;
  limits.keptFor = std::chrono::hours(hostSettings.shareHours);
  // Without its store the chat still runs: it keeps no files.
  if (hostSettings.sharing && !hostedFiles.Open(DataFolderPath(), limits, serverNetwork, error)) {
    Diag("CJaseloDlg::StartNetwork() - no shared files are kept: %s\n", error.c_str());
  }
  return true;
}

void CJaseloDlg::JoinedAnew() {
  // Earlier lines cut short by a loss are over; the new connection's come
  // under a heading of their own.
  showingEarlier = false;
  // A new connection gets a ticket of its own.
  fileCards->SetTicket("");
  people.Started(Own().str(), hosting, UtcSecondsNow(), PeopleList::Clock::now());
  PeopleChanged();
  // A host that has not answered by then does not share who is there.
  QTimer::singleShot(HELLO_ANSWER_WAIT, this, [this] {
    if (people.Look(PeopleList::Clock::now())) PeopleChanged();
  });
}

void CJaseloDlg::PeopleChanged() {
  peoplePane->Show(people);
  // The own client of a host hears of everyone its server takes in: the
  // announcement counts them.
  if (announcer && people.State() == PeopleList::Sharing::Shared) announcer->SetPeople(people.Count());
}

void CJaseloDlg::StartPollLoop() {
  Running = true;
  Start();
}

void CJaseloDlg::AskPollLoopToEnd() {
  Running = false;
  pollWake.Signal();
}

void CJaseloDlg::StopPollLoop() {
  AskPollLoopToEnd();
  news.Stop();
  Wait();
  Close();
}

template <typename Step>
void CJaseloDlg::After(std::chrono::milliseconds wait, Step step) {
  QTimer::singleShot(wait, this, step);
}

void CJaseloDlg::OnCancel() {
  if (closing) return;  // a second close while the first is under way
  closing = true;
  leaving = true;
  // What the window would still show is dropped: the poll thread never
  // waits for it again, and relays the user's departure at once.
  news.Stop();
  // A join under way stops at its next wait, and none follows.
  joinThread.Cancel();
  if (settings.Role == TYPE_SERVER) announcer.reset();  // nobody should find a chat that is closing
  LeaveAsClient();
}

// Both roles leave the chat the same way: the own departure, a moment for it
// to go out, then the own client stops and the poll loop is told to end.
// A connection already lost gets no departure: there is nobody to tell.
void CJaseloDlg::LeaveAsClient() {
  // A try under way ends first (within its connect bound); with `leaving` set
  // none begins after it.
  if (!clientStart.try_lock()) {
    After(10ms, [this] { LeaveAsClient(); });
    return;
  }
  const bool departing = clientNetwork.IsActive();
  if (departing) clientNetwork.SendDisconnectMessage(Own().c_str());
  clientStart.unlock();
  After(departing ? 100ms : 0ms, [this] { StopOwnClient(); });
}

void CJaseloDlg::StopOwnClient() {
  clientNetwork.StopClient();
  AskPollLoopToEnd();
  if (settings.Role == TYPE_CLIENT) {
    After(100ms, [this] { EndPollLoop(); });
  } else {
    serverNetwork.SendDisconnectMessage(SERVER_SHUTDOWN_NAME);
    After(100ms, [this] {
      serverNetwork.StopServer();
      hostedFiles.Close();
      EndPollLoop();
    });
  }
}

void CJaseloDlg::EndPollLoop() {
  if (pollEnded || !HasHandle()) FinishClosing();
  else awaitingPollEnd = true;
}

void CJaseloDlg::OnPollLoopEnded() {
  pollEnded = true;
  if (awaitingPollEnd) FinishClosing();
}

void CJaseloDlg::FinishClosing() {
  awaitingPollEnd = false;
  // Its connect over (the own client stopped after it), the join's last step
  // has only its result to hand over.
  joinThread.Stop();
  // The poll thread has left ThreadProc, or is about to: this waits no longer.
  Wait();
  Close();
  CDialog::OnCancel();
}

void CJaseloDlg::ReadConfig() {
  std::string error;
  if (!ReadHostSettings(HostSettingsPath(configPath), hostSettings, error)) {
    Diag("CJaseloDlg::ReadConfig() - %s\n", error.c_str());
  }
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
  if (typedLine.kind == TypedLine::Kind::Remove) {
    if (!hosting) {
      AppendNotice("Only the chat's host can remove someone !");
      return false;
    }
    // Asked once Send has let the client go: the dialog must not hold it.
    QMetaObject::invokeMethod(
        this, [this, name = typedLine.addressee] { OfferRemoval(name); }, Qt::QueuedConnection);
    return true;
  }
  ChatEvent line = OwnLine();
  line.SetText(typedLine.text);
  if (typedLine.kind == TypedLine::Kind::Public) return clientNetwork.SendChatMessage(line);
  if (!clientNetwork.SendPrivateChatMessage(line, typedLine.addressee.c_str())) return false;
  // The server sends a private line to its addressee alone: the sender's own
  // transcript shows it from here.
  AppendOwnPrivate(typedLine.addressee, line);
  return true;
}

ChatEvent CJaseloDlg::OwnLine() const {
  ChatEvent line;
  line.SetName(Own().str());
  line.SetPolice(settings.Police);
  line.Style() = {.Bold = settings.Bold,
                  .Italic = settings.Italic,
                  .Underline = settings.Underline,
                  .Red = ColorRed(settings.Color),
                  .Green = ColorGreen(settings.Color),
                  .Blue = ColorBlue(settings.Color)};
  return line;
}

void CJaseloDlg::DispatchEvent(ChatEvent& event) {
  // The host's ticket, and the details of a file beside the line that named
  // it: no alert of their own.
  if (event.Type == EVENT_TICKET) return fileCards->SetTicket(event.Text.get() ? event.Text.get() : "");
  if (event.Type == EVENT_FILE) return fileCards->Show(event.File);
  if (event.Type == EVENT_PICTURE)
    return fileCards->TakePicturePart(event.File.id, event.Count, event.Flags, event.Data);
  if (people.Take(event, UtcSecondsNow())) PeopleChanged();
  if (event.Type == EVENT_EARLIER) {
    // Said before the user came: no alert, no notification, no tint.
    AppendEarlier(event);
    return;
  }
  if (backgroundAlert) backgroundAlert->OnChatEvent(event.Type);
  if (completer && event.Name.get() && !Own().Is(event.Name.get()))
    completer->OnChatEvent(event.Type == EVENT_PRESENT ? CHAT_JOINED : event.Type, event.Name.get());
  NotifyDesktop(event);
  switch (event.Type) {
    case CHAT_SAYS: AppendSays(event); break;
    case CHAT_PRIVATE: AppendPrivateSays(event); break;
    case CHAT_JOINED: AppendJoined(event); break;
    case CHAT_DISCONNECTED: AppendDisconnected(event); break;
    default: break;  // unrelayed lines and anything unknown are not shown
  }
}

void CJaseloDlg::Show(const ConnectionNotice& notice) {
  switch (notice.notice) {
    case RejoinWatch::Notice::Lost:
      fileCards->SetTicket("");
      people.Lost();
      PeopleChanged();
      AppendNotice("Connection to the server lost !");
      connectionLost = true;
      break;
    case RejoinWatch::Notice::Restored: AppendNotice("Connection to the server restored !"); break;
    case RejoinWatch::Notice::Refused:
      people.Lost();
      PeopleChanged();
      AppendNotice("The server did not accept " + Own().str() + " !");
      break;
    case RejoinWatch::Notice::None: break;
  }
}

void CJaseloDlg::Show(const PasswordRefused& refused) {
  AppendNotice("Wrong password for this chat !");
  if (const std::string why = PasswordWaitText(refused.reason, refused.seconds); !why.empty()) AppendNotice(why + ".");
  connectionLost = true;
}

void CJaseloDlg::Show(const KeptOut& keptOut) {
  people.Lost();
  PeopleChanged();
  AppendNotice(KeptOutNotice(keptOut.reason, keptOut.seconds).toStdString());
  connectionLost = true;
}

void CJaseloDlg::OfferRemoval(const std::string& name) {
  const std::optional<std::chrono::seconds> keepOut = AskKeepOut(this, QString::fromStdString(name));
  if (!keepOut) return;
  if (!serverNetwork.ShowOut(name.c_str(), *keepOut)) AppendNotice(name + " is no longer in the chat !");
}

void CJaseloDlg::Show(const ProtectionNotice& notice) {
  const ConnectReport& report = notice.report;
  switch (report.outcome) {
    case ConnectReport::Outcome::Encrypted:
      AppendNotice("Connected to the server, encrypted (key " + report.key.Grouped() + ")");
      break;
    case ConnectReport::Outcome::Plain:
      AppendNotice("Connected to the server, not encrypted: this host offers no encryption");
      break;
    case ConnectReport::Outcome::KeyChanged: {
      const std::string known = report.badLine != 0 ? "line " + std::to_string(report.badLine) + " of " +
                                                          report.knownHosts + " cannot be read"
                                                    : GroupedShortKey(report.expected);
      AppendNotice("The server's key is not the one known for it (" + known + ", now " + report.key.Grouped() +
                   "): not joined again !");
      break;
    }
    case ConnectReport::Outcome::PlainRefused:
    case ConnectReport::Outcome::PlainOffered:
      AppendNotice("The server no longer offers encryption: not joined again !");
      break;
    case ConnectReport::Outcome::KnownHostsUnreadable:
      AppendNotice("The list of known hosts cannot be read (" + report.problem + "): not joined again !");
      break;
    default: break;
  }
}

uint32_t CJaseloDlg::ThreadProc() {
  ChatEvent event;
  // Woken by the own client's news, the window's stop, or the rejoin watch's
  // next moment; the host's relaying runs on its server's own thread.
  RunPollLoop(Running, {&pollWake, &clientNetwork.News()}, [&] {
    // Read before draining: whatever arrived before the end is then shown
    // before the notice.
    const bool up = clientNetwork.IsActive();
    const bool heard = clientNetwork.QueuedCount() > 0;
    DrainQueue(clientNetwork, event, [&](ChatEvent& received) { Hand(std::move(received)); });
    if (leaving.load()) return PollTimeout(clientNetwork);
    const uint16_t refusal = up ? 0 : clientNetwork.Refusal();
    // A refused password is said once, and no try follows.
    if (IsPasswordRefusal(refusal) && !watch.Over()) {
      watch.GiveUp();
      Hand(PasswordRefused{refusal, clientNetwork.KeptOutSeconds()});
    }
    const RejoinWatch::Notice notice = watch.Look(up, heard, RejoinClock::now());
    // Removed by the host's user: no try before the address is let in again.
    const bool removed = notice == RejoinWatch::Notice::Lost && refusal == REFUSED_REMOVED;
    // Turned away at the door: tried again once the host said it may.
    const bool turned = notice != RejoinWatch::Notice::None && IsTurnedAway(refusal);
    const uint32_t seconds = clientNetwork.KeptOutSeconds();
    if (removed || turned) watch.KeptOut(seconds, RejoinClock::now());
    // Send follows the connection before the user reads the notice.
    sendable = watch.Sendable();
    if (removed || turned) Hand(KeptOut{refusal, seconds});
    else if (notice != RejoinWatch::Notice::None) Hand(ConnectionNotice{notice});
    watch.TryIfDue([this] {
      const bool joined = TryToRejoin();
      if (joined) Hand(Rejoined{});
      return joined;
    });
    return PollTimeout(clientNetwork, watch.MillisecondsToNextLook(RejoinClock::now()));
  });
  QMetaObject::invokeMethod(
      this, [this] { OnPollLoopEnded(); }, Qt::QueuedConnection);
  return 0;
}

// The ordinary client start again, on the poll thread: the window stays
// responsive while it connects, and nothing is shown until it is over.
bool CJaseloDlg::TryToRejoin() {
  bool joined = false, refused = false;
  ConnectReport report;
  {
    const std::lock_guard lock(clientStart);
    if (leaving.load()) return false;
    joined = ConnectOwnClient(true, report);
  }
  refused = report.outcome == ConnectReport::Outcome::KeyChanged ||
            report.outcome == ConnectReport::Outcome::PlainRefused ||
            report.outcome == ConnectReport::Outcome::PlainOffered ||
            report.outcome == ConnectReport::Outcome::KnownHostsUnreadable;
  // A host that is not the one met before is not tried again.
  if (refused) watch.GiveUp();
  // Handed over without the lock: the hand-over may wait for the window, and
  // the window takes the lock to send.
  if (joined || refused) Hand(ProtectionNotice{report});
  return joined;
}

bool CJaseloDlg::ConnectOwnClient(bool restart, ConnectReport& report) {
  if (restart) PrepareRejoinTry(clientNetwork);
  const bool started = !restart || clientNetwork.StartupClient(joinName.c_str());
  const bool connected = !leaving.load() && started && clientNetwork.ClientConnect(joinAddress.c_str(), joinPort);
  report = clientNetwork.LastConnect();
  return connected;
}

void CJaseloDlg::Hand(PollNews item) {
  bool call = false;
  // Stopped, the window is closing: what it no longer shows is dropped.
  if (news.Put(std::move(item), call) && call)
    QMetaObject::invokeMethod(
        this, [this] { ShowNews(); }, Qt::QueuedConnection);
}

void CJaseloDlg::ShowNews() {
  // A slice at a time: between slices the window answers the user and paints.
  const auto end = std::chrono::steady_clock::now() + SHOW_SLICE;
  PollNews item;
  while (std::chrono::steady_clock::now() < end) {
    if (!news.Take(item)) return;
    std::visit([this](auto& shown) { Show(shown); }, item);
  }
  QMetaObject::invokeMethod(
      this, [this] { ShowNews(); }, Qt::QueuedConnection);
}
