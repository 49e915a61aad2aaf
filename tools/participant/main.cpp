// The headless participant: joins a chat as a client, printing each event it
// receives and sending each input line; with --serve, hosts (and announces)
// the chat; with --find, lists the chats announced on the network.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "app/version.h"
#include "chat/hostedfiles.h"
#include "chat/jaselonetwork.h"
#include "chat/pollloop.h"
#include "chat/rejoin.h"
#include "chat/sharing.h"
#include "chat/turnedaway.h"
#include "config/hostsettings.h"
#include "discovery/chatannouncer.h"
#include "discovery/chatbrowser.h"
#include "eventline.h"
#include "net/localaddresses.h"
#include "net/security.h"
#include "net/tlscontext.h"
#include "options.h"
#include "protocol/diagnostics.h"
#include "protocol/extension.h"
#include "protocol/headers.h"
#include "share/fileclient.h"
#include "share/filerequest.h"
#include "share/sharedname.h"
#include "trust/passbook.h"
#include "trust/privatefiles.h"
#include "web/frontdoor.h"

namespace {
using namespace std::chrono_literals;

constexpr auto DEPARTURE_GRACE = 100ms;  // lets a departure leave before stopping
constexpr auto TICKET_WAIT = 5s;         // --share: how long a host may take to give its ticket

volatile std::sig_atomic_t stopRequested = 0;
// Wakes the main loop: a stop signal, news of the chat, a change of the
// people present. (An eventfd's write is safe in a signal handler.)
WakeEvent attention;
void OnStopSignal(int) {
  stopRequested = 1;
  attention.Signal();
}

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a signal cuts the wait on standard input short.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

// One whole line per write, so event lines and diagnostic lines never mix.
void EmitLine(const std::string& line) {
  const std::string whole = line + "\n";
  std::fwrite(whole.data(), 1, whole.size(), stdout);
  std::fflush(stdout);
}

void Complain(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Complain(const char* format, ...) {
  std::fputs("jaselo-participant: ", stderr);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
}

// Drains an endpoint's queue as the chat window's poll thread does, printing
// a client's events; the server's are only taken.
class PollLoop : public CPollThread {
 public:
  // `files`: where the host's shared files are fetched, "https://ADDRESS:PORT".
  PollLoop(CJaseloNetwork& network, bool show, std::string files = {})
      : CPollThread(network, show ? EventHandler([this](ChatEvent& event) { Show(event); }) : EventHandler()),
        show(show),
        files(std::move(files)) {}
  ~PollLoop() override { End(); }

  bool SawServerShutdown() const { return sawServerShutdown; }
  // The upload ticket the host gave, once it has.
  std::string Ticket() {
    const std::lock_guard lock(ticketMutex);
    return ticket;
  }
  // Whether an event came since the last call.
  bool Heard() { return heard.exchange(false); }

 protected:
  // The main loop looks at what came, and at the connection's end.
  void Passed() override {
    if (heard.load() || !Network().IsActive()) attention.Signal();
  }

 public:
  uint32_t ThreadProc() override {
    CPollThread::ThreadProc();
    // What arrived before the stop is still reported.
    if (show) Drain();
    return 0;
  }

 private:
  void Show(ChatEvent& event) {
    heard = true;
    if (event.Type == CHAT_DISCONNECTED && std::string_view(event.Name.get()) == SERVER_SHUTDOWN_NAME) {
      sawServerShutdown = true;
    }
    if (event.Type == EVENT_TICKET) {
      const std::lock_guard lock(ticketMutex);
      ticket = event.Text.get();
      return;
    }
    if (event.Type == EVENT_FILE) {
      const SharedFile& f = event.File;
      EmitLine("FILE from=" + QuoteValue(f.from) + " name=" + QuoteValue(f.name) + " size=" + std::to_string(f.size) +
               " type=" + QuoteValue(f.type) + " url=" + files + SharedFilePath(f.id, f.name) + " sha256=" + f.sha256 +
               ((f.flags & FILE_PRIVATE) != 0 ? " private" : "") + ((f.flags & FILE_PICTURE) != 0 ? " picture" : ""));
      return;
    }
    const std::string line = FormatEvent(event);
    if (!line.empty()) EmitLine(line);
  }

  const bool show;
  const std::string files;
  std::mutex ticketMutex;
  std::string ticket;
  std::atomic<bool> sawServerShutdown{false};
  std::atomic<bool> heard{false};
};

// Lines of standard input, read with a wait that `attention` cuts short, so
// that the caller can look at signals and at the connection between reads.
class InputLines {
 public:
  enum class Result { Line, Nothing, End };

  // Ignoring input, Next only waits: the end never comes from standard input.
  explicit InputLines(bool ignore) : ignore(ignore) {}

  Result Next(std::string& line, int waitMs) {
    if (TakeLine(line)) return Result::Line;
    if (!atEnd) Fill(waitMs);
    if (TakeLine(line)) return Result::Line;
    if (!atEnd) return Result::Nothing;
    if (pending.empty()) return Result::End;
    // A last line without its newline still counts.
    line.swap(pending);
    pending.clear();
    return Result::Line;
  }

 private:
  bool TakeLine(std::string& line) {
    const size_t end = pending.find('\n');
    if (end == std::string::npos) return false;
    line.assign(pending, 0, end);
    pending.erase(0, end + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
  }

  void Fill(int waitMs) {
    pollfd p[2] = {{attention.Fd(), POLLIN, 0}, {ignore ? -1 : STDIN_FILENO, POLLIN, 0}};
    const int ready = poll(p, 2, waitMs);
    if (ready < 0 && errno != EINTR) atEnd = !ignore;
    if (ready <= 0) return;
    if (p[0].revents != 0) attention.Drain();
    if (p[1].revents == 0) return;
    char chunk[4096];
    const ssize_t n = read(STDIN_FILENO, chunk, sizeof chunk);
    if (n > 0) {
      pending.append(chunk, static_cast<size_t>(n));
    } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
      atEnd = true;
    }
  }

  const bool ignore;
  std::string pending;
  bool atEnd = false;
};

ChatEvent OutgoingLine(const ParticipantOptions& o) {
  ChatEvent line;
  line.SetName(o.nick);
  line.SetPolice(o.face);
  line.Style() = {
      .Bold = o.bold, .Italic = o.italic, .Underline = o.underline, .Red = o.red, .Green = o.green, .Blue = o.blue};
  line.Type = CHAT_SAYS;
  return line;
}

void SendLine(CJaseloNetwork& client, ChatEvent& line, const std::string& text) {
  CPacket probe;
  const bool lengthsFit = text.size() < PACKET_CAPACITY && line.NameLength > 0 && line.PoliceLength > 0;
  if (lengthsFit) line.SetText(text);
  if (!lengthsFit || !BuildSays(line, probe)) {
    Complain("line of %zu bytes not sent: it does not fit one message", text.size());
    return;
  }
  if (!client.SendChatMessage(line)) Complain("line not sent: the connection failed");
}

std::string DataFolder(const ParticipantOptions& o) { return o.dataDir.empty() ? DataFolderPath() : o.dataDir; }

// A client always begins with TLS, trusting each host by the key it had when
// first met.
bool SecureClient(CJaseloNetwork& client, const ParticipantOptions& o) {
  std::string error;
  ClientSecurity security;
  security.tls = TlsContext::ForClient(error);
  if (!security.tls) {
    Complain("cannot make TLS connections: %s", error.c_str());
    return false;
  }
  security.knownHosts = std::make_shared<KnownHosts>(DataFolder(o) + "/" + KNOWN_HOSTS_FILE);
  security.passes = std::make_shared<PassBook>(DataFolder(o) + "/" + PASSES_FILE);
  security.acceptNewKey = o.acceptNewKey;
  if (!o.passwordFile.empty() && !ReadPasswordFile(o.passwordFile, security.password, error)) {
    Complain("%s", error.c_str());
    return false;
  }
  client.SetClientSecurity(std::move(security));
  client.SetAsksForFiles(true);
  return true;
}

// The host's user showed this participant out: said once. True when no try
// may follow (none asked for, or kept out until the host stops); otherwise
// the next try waits until the address is let in again.
bool SaidRemoved(const CJaseloNetwork& client, const ParticipantOptions& o, RejoinWatch& watch) {
  const uint32_t seconds = client.KeptOutSeconds();
  EmitLine("REMOVED");
  if (seconds == KEPT_OUT_UNTIL_STOP) Complain("the host removed you from the chat until it stops");
  else Complain("the host removed you from the chat for %u s", unsigned{seconds});
  watch.KeptOut(seconds, RejoinClock::now());
  return !o.rejoin || watch.Over();
}

// The host refused this participant's password, or did not look at it
// for the wrong ones from this address: said once, and never tried again,
// since the same password would be refused again.
bool SaidWrongPassword(const CJaseloNetwork& client) {
  const uint16_t reason = client.Refusal();
  if (!IsPasswordRefusal(reason)) return false;
  if (reason == REFUSED_PASSWORD_WAIT) {
    EmitLine("PASSWORD_WAIT seconds=" + std::to_string(client.KeptOutSeconds()));
  } else {
    EmitLine("WRONG_PASSWORD");
  }
  if (const std::string why = PasswordWaitText(reason, client.KeptOutSeconds()); !why.empty()) {
    Complain("%s", why.c_str());
  }
  return true;
}

// The first line of every connection: how it is protected.
std::string ProtectionLine(bool encrypted, const KeyDigest& key) {
  return encrypted ? "ENCRYPTED key=" + key.Hex() : "PLAIN";
}

// Refusals that no later try can change: the host is not tried again.
enum class Refusal { None, CannotJoin, Final };

// Says why the host was not joined, when it was for its key.
Refusal Refused(const CJaseloNetwork& client, const ParticipantOptions& o) {
  const ConnectReport& report = client.LastConnect();
  // What the hosts file remembered: its key, or the line that names it and cannot be read.
  const std::string old = report.badLine != 0 ? " line=" + std::to_string(report.badLine) : " old=" + report.expected;
  switch (report.outcome) {
    case ConnectReport::Outcome::KeyChanged:
      EmitLine("KEY_CHANGED address=" + o.host + " port=" + std::to_string(o.port) + old + " new=" + report.key.Hex());
      return Refusal::Final;
    case ConnectReport::Outcome::PlainRefused:
      Complain("%s:%u was met with a key before and now offers no encryption: not joined", o.host.c_str(),
               unsigned{o.port});
      return Refusal::Final;
    case ConnectReport::Outcome::KnownHostsUnreadable:
      EmitLine("KNOWN_HOSTS_UNREADABLE path=" + report.knownHosts + " reason=" + report.problem);
      return Refusal::Final;
    default: return Refusal::CannotJoin;
  }
}

// The ordinary client start, for the first join and for each try after a loss.
std::unique_ptr<PollLoop> Join(CJaseloNetwork& client, const ParticipantOptions& o, Refusal& refusal) {
  refusal = Refusal::None;
  if (!client.StartupClient(o.nick.c_str()) || !client.ClientConnect(o.host.c_str(), o.port)) {
    refusal = Refused(client, o);
    return nullptr;
  }
  const ConnectReport& report = client.LastConnect();
  const bool encrypted = report.outcome == ConnectReport::Outcome::Encrypted;
  EmitLine(ProtectionLine(encrypted, report.key));
  auto loop = std::make_unique<PollLoop>(client, true, FileUrlText({encrypted, o.host, o.port, ""}));
  loop->Begin();
  return loop;
}

// Leaves --share's file with the host, then tells the chat: one ordinary
// line that names it, whoever reads it, and its details for those who asked.
bool ShareFile(CJaseloNetwork& client, const ParticipantOptions& o, const std::string& ticket) {
  std::string error;
  FileClient files;
  UploadedFile shared;
  if (!UploadSharedFile(files, {o.host, o.port, client.LastConnect()}, ticket, o.share, o.nick, o.shareTo, shared,
                        error)) {
    Complain("%s not shared: %s", o.share.c_str(), error.c_str());
    return false;
  }
  ChatEvent line = OutgoingLine(o);
  if (!AnnounceSharedFile(client, line, shared)) {
    Complain("%s is with the host, but its line was not sent", o.share.c_str());
    return false;
  }
  EmitLine("SHARED url=" + shared.url + " sha256=" + shared.file.sha256);
  return true;
}

int RunClient(const ParticipantOptions& o) {
  CJaseloNetwork client;
  if (!SecureClient(client, o)) return 1;
  Refusal refusal = Refusal::None;
  std::unique_ptr<PollLoop> loop = Join(client, o, refusal);
  if (refusal == Refusal::Final) return 3;
  if (!loop) {
    Complain("cannot join %s:%u as '%s'", o.host.c_str(), unsigned{o.port}, o.nick.c_str());
    return 1;
  }
  RejoinWatch watch(o.rejoin);
  watch.Started(RejoinClock::now());

  ChatEvent line = OutgoingLine(o);
  InputLines input(o.noInput);
  bool sawShutdown = false;
  // Shared once, as soon as the host gave its ticket.
  bool shared = o.share.empty();
  // A host that keeps files gives its ticket with its answer to the HELLO.
  const auto shareBy = RejoinClock::now() + TICKET_WAIT;
  while (!stopRequested) {
    const bool up = client.IsActive();
    // Ending the loop shows what came before the end, and counts it.
    if (!up && loop) {
      loop->End();
      sawShutdown = loop->SawServerShutdown();
    }
    const bool heard = loop && loop->Heard();
    if (!up) loop.reset();
    if (!up && SaidWrongPassword(client)) return 3;
    const RejoinWatch::Notice notice = watch.Look(up, heard, RejoinClock::now());
    // Removed, the participant says so instead of a loss.
    const bool removed = notice == RejoinWatch::Notice::Lost && client.Refusal() == REFUSED_REMOVED;
    if (removed && SaidRemoved(client, o, watch)) return 3;
    // Turned away at the door (the chat full, the address's share, too fast):
    // said in those words, and with --rejoin tried again a little later.
    const bool turned = notice != RejoinWatch::Notice::None && IsTurnedAway(client.Refusal());
    if (turned) {
      EmitLine("REFUSED");
      Complain("%s", TurnedAwayText(client.Refusal(), client.KeptOutSeconds()).c_str());
      watch.KeptOut(client.KeptOutSeconds(), RejoinClock::now());
    }
    switch (removed || turned ? RejoinWatch::Notice::None : notice) {
      case RejoinWatch::Notice::Lost: EmitLine("LOST"); break;
      case RejoinWatch::Notice::Restored: EmitLine("RESTORED"); break;
      case RejoinWatch::Notice::Refused: EmitLine("REFUSED"); break;
      case RejoinWatch::Notice::None: break;
    }
    if (watch.Over()) break;
    watch.TryIfDue([&] {
      PrepareRejoinTry(client);
      loop = Join(client, o, refusal);
      return loop != nullptr;
    });
    // A host that is not the one met before is not tried again.
    if (refusal == Refusal::Final) return 3;
    int wait = watch.MillisecondsToNextLook(RejoinClock::now());
    if (!shared && loop && client.IsActive()) {
      const std::string ticket = loop->Ticket();
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(shareBy - RejoinClock::now()).count();
      if (!ticket.empty()) {
        ShareFile(client, o, ticket);
        shared = true;
      } else if (client.LastConnect().outcome != ConnectReport::Outcome::Encrypted) {
        Complain("%s not shared: files are shared inside TLS alone, which this host does not speak", o.share.c_str());
        shared = true;
      } else if (left <= 0) {
        Complain("%s not shared: this host keeps no shared files", o.share.c_str());
        shared = true;
      } else {
        wait = wait < 0 ? static_cast<int>(left) : std::min(wait, static_cast<int>(left));
      }
    }
    std::string text;
    const auto got = input.Next(text, wait);
    if (got == InputLines::Result::End) break;
    // An empty line is skipped, as the window's Send does with an empty box.
    if (got != InputLines::Result::Line || text.empty()) continue;
    if (watch.Sendable() && client.IsActive()) SendLine(client, line, text);
    else Complain("line not sent: not in the chat");
  }

  if (watch.Over() || !client.IsActive()) {
    if (loop) loop->End();
    if (watch.Over() && !o.rejoin) {
      if (sawShutdown) Complain("the server shut down");
      else
        Complain("the connection to the server ended (server gone, or nickname '%s' already in use)", o.nick.c_str());
    } else if (watch.Over()) {
      Complain("the server did not accept '%s' (nickname already in use, or the server is full)", o.nick.c_str());
    }
    return 3;
  }
  client.SendDisconnectMessage(o.nick.c_str());
  std::this_thread::sleep_for(DEPARTURE_GRACE);
  client.StopClient();
  loop->End();
  return 0;
}

// The host's TLS over its key, made on its first run; without a key it
// speaks plain text only, unless it must refuse that.
bool SecureHost(CJaseloNetwork& server, const ParticipantOptions& o, KeyDigest& key) {
  std::string password, error;
  if (!o.passwordFile.empty() && !ReadPasswordFile(o.passwordFile, password, error)) {
    Complain("%s", error.c_str());
    return false;
  }
  HostSetup setup;
  if (!SetUpHost(DataFolder(o), password, o.encryptedOnly, MachineName(), setup, error)) {
    Complain("%s", error.c_str());
    return false;
  }
  if (!setup.noKey.empty()) Complain("no host key (%s): the chat is not encrypted", setup.noKey.c_str());
  key = setup.key;
  server.SetWebSettings(setup.web);
  server.SetHostSecurity(std::move(setup.security));
  TransportLimits limits;
  limits.maxPerAddress = o.maxPerAddress;
  limits.connectsPerSecond = o.connectRate;
  limits.connectBurst = std::max(limits.connectBurst, static_cast<double>(o.connectRate));
  server.SetLimits(limits);
  return true;
}

// "/remove NAME [MINUTES]" typed to the host: NAME leaves the chat, and its
// address is kept out for MINUTES (10 when not given; 0: until the host stops).
void ShowOut(CJaseloNetwork& server, const std::string& typed) {
  constexpr std::string_view command = "/remove ";
  if (!typed.starts_with(command)) {
    if (typed.starts_with("/")) Complain("unknown command (the host takes /remove NAME [MINUTES])");
    return;
  }
  std::string name = typed.substr(command.size());
  long minutes = 10;
  const size_t blank = name.find_last_of(' ');
  const std::string last = blank == std::string::npos ? "" : name.substr(blank + 1);
  if (!last.empty() && last.size() <= 6 && last.find_first_not_of("0123456789") == std::string::npos) {
    minutes = std::stol(last);
    name.resize(blank);
  }
  if (!server.ShowOut(name.c_str(), std::chrono::minutes(minutes))) Complain("nobody named '%s' is here", name.c_str());
}

int RunServer(const ParticipantOptions& o) {
  CJaseloNetwork server;
  KeyDigest key;
  // A host that cannot be what it was asked to be is told so, as a usage
  // mistake is: running it again as it is would change nothing.
  if (!SecureHost(server, o, key)) return 2;
  const bool encrypted = key != KeyDigest();
  HostedFiles hosted;
  if (o.sharing) {
    ShareLimits limits;
    limits.largestFile = uint64_t{o.shareLargestMiB} << 20;
    limits.totalKept = uint64_t{o.shareTotalMiB} << 20;
    limits.keptFor = std::chrono::hours(o.shareHours);
    std::string error;
    if (!hosted.Open(DataFolder(o), limits, server, error)) Complain("no shared files are kept: %s", error.c_str());
  }
  if (!server.StartupServer()) {
    Complain("cannot start the network");
    return 1;
  }
  // The chat itself runs on the server's socket thread; this one only
  // follows the count of people for the announcement, woken when it changes.
  server.SetPeopleWatch(&attention);
  server.SetFullWatch([](const std::string& line) { Complain("%s", line.c_str()); });
  server.ServerListen(o.port);
  if (!server.IsActive()) {
    Complain("cannot listen on port %u", unsigned{o.port});
    return 1;
  }
  EmitLine("LISTENING " + std::to_string(server.ListeningPort()));
  EmitLine(ProtectionLine(encrypted, key));
  // Where a browser joins: the page on every address this machine has,
  // encrypted where the host has its key.
  for (const std::string& address : LocalIPv4Addresses()) {
    EmitLine("WEB url=" + PageUrl(address, server.ListeningPort(), encrypted));
  }
  // After LISTENING: that line stays the first, whatever the announcer says.
  std::unique_ptr<CChatAnnouncer> announcer;
  if (o.announce) {
    announcer = std::make_unique<CChatAnnouncer>(o.nick, server.ListeningPort(), encrypted ? key.ShortHex() : "");
    announcer->Start();
  }
  server.SetHistoryLines(o.history);

  InputLines input(o.noInput);
  std::string typed;
  size_t announced = 0;  // as the announcement starts
  for (InputLines::Result got; !stopRequested && (got = input.Next(typed, -1)) != InputLines::Result::End;) {
    if (got == InputLines::Result::Line) ShowOut(server, typed);
    const size_t count = announcer ? server.ClientCount() : announced;
    if (count != announced) announcer->SetPeople(announced = count);
  }

  announcer.reset();  // nobody is sent to a host that is leaving
  server.SendDisconnectMessage(SERVER_SHUTDOWN_NAME);
  std::this_thread::sleep_for(DEPARTURE_GRACE);
  server.StopServer();
  server.SetPeopleWatch(nullptr);
  hosted.Close();
  return 0;
}

// Downloads a shared file, trusting the host's key as a join would.
int RunFetch(const ParticipantOptions& o) {
  FileUrl url;
  if (!ReadFileUrl(o.fetch, url)) {
    Complain("'%s' is not the address of a shared file", o.fetch.c_str());
    return 2;
  }
  std::string out = o.out;
  if (out.empty()) {
    std::string name;
    const std::string last = url.path.substr(url.path.find_last_of('/') + 1);
    out = CleanSharedName(PercentDecode(last, name) ? name : "");
  }
  KnownHosts known(DataFolder(o) + "/" + KNOWN_HOSTS_FILE);
  const HostEntry entry = known.Look(url.address, url.port);
  bool keyRefused = false;
  const auto trust = [&](const KeyDigest& key) {
    keyRefused = !(entry.state == HostEntry::State::Met ? entry.key == key : o.acceptNewKey);
    return !keyRefused;
  };
  std::string error, sha256;
  FileClient files;
  const std::shared_ptr<TlsContext> tls = TlsContext::ForClient(error);
  if (!files.Connect(url, tls, trust, error) || !files.Fetch(url, out, sha256, error)) {
    Complain("%s not fetched: %s", o.fetch.c_str(), error.c_str());
    if (keyRefused) Complain("join the chat once to meet its host, or give --accept-new-key");
    return keyRefused ? 3 : 1;
  }
  EmitLine("FETCHED path=" + QuoteValue(out) + " sha256=" + sha256);
  return 0;
}

// Looks for the announced chats for the given time and prints those found.
int RunFind(const ParticipantOptions& o) {
  std::mutex mutex;
  ChatListing last;
  auto browser = std::make_unique<CChatBrowser>([&](const ChatListing& listing) {
    std::lock_guard<std::mutex> guard(mutex);
    last = listing;
  });
  if (!browser->Start()) {
    Complain("cannot look for chats: no thread for it");
    return 0;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(o.findSeconds);
  while (!stopRequested && std::chrono::steady_clock::now() < end) {
    pollfd p{attention.Fd(), POLLIN, 0};
    poll(
        &p, 1,
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count()));
  }
  browser.reset();  // no listing comes after this
  for (const FoundChat& chat : last.chats) {
    EmitLine("CHAT name=" + QuoteValue(chat.name) + " nick=" + QuoteValue(chat.nick) + " address=" + chat.address +
             " port=" + std::to_string(chat.port) + (chat.people >= 0 ? " people=" + std::to_string(chat.people) : "") +
             " encrypted=" + (chat.encrypted ? "1" : "0") + " key=" + (chat.key.empty() ? "-" : chat.key));
  }
  if (!last.searching) Complain("no chat can be found: %s", last.whyNot.c_str());
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  ParticipantOptions options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    Complain("%s (try --help)", error.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(HelpText(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("jaselo-participant %s\n", JASELO_VERSION);
    return 0;
  }
  if (options.quiet) SetDiagSink([](std::string_view) {});
  InstallStopSignals();
  if (options.find) return RunFind(options);
  if (!options.fetch.empty()) return RunFetch(options);
  return options.serve ? RunServer(options) : RunClient(options);
}
