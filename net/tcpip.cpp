// CTCPIP's life: taking a role, listening or connecting, stopping, cleaning up.
#include "net/tcpip.h"

#include <sys/socket.h>

#include <cassert>
#include <cerrno>
#include <cstring>

#include "protocol/diagnostics.h"

CTCPIP::CTCPIP() = default;

CTCPIP::~CTCPIP() {
  Cleanup();
  // Stop may have run on the socket thread itself (a client that lost its
  // server); the thread must still have left ThreadProc before members go.
  Wait();
}

bool CTCPIP::Startup(uint16_t _Type, const char* nickname) {
  if (_Type > TYPE_CLIENT) {
    Diag("CTCPIP::Startup() - Bad _Type, must to be TYPE_SERVER or TYPE_CLIENT\n");
    return false;
  }
  Cleanup();
  if (!SocketLayerStartup()) {
    Diag("CTCPIP::Startup() - WSAStartup() - error %d\n", LastSocketError());
    return false;
  }
  if (_Type == TYPE_CLIENT) {
    const char* text = nickname ? nickname : "";
    nicknameLength = static_cast<uint16_t>(std::strlen(text) + 1);
    this->nickname = std::make_unique<char[]>(nicknameLength);
    std::memcpy(this->nickname.get(), text, nicknameLength);
    // A count that wrapped must still leave a terminated string.
    if (nicknameLength > 0) this->nickname[nicknameLength - 1] = '\0';
  }
  if (_Type == TYPE_SERVER) {
    // Nothing of a chat that takes only encrypted connections travels in the
    // clear, its page included.
    WebSettings settings = webSettings;
    settings.tlsOnly = settings.tlsOnly || hostSecurity.encryptedOnly || !hostSecurity.password.empty();
    settings.password = settings.password || !hostSecurity.password.empty();
    settings.sharing = static_cast<bool>(fileHandOff);
    frontDoor = std::make_unique<FrontDoor>(settings);
    refusalDesk.SetTls(hostSecurity.tls);
  }
  role = static_cast<EndpointRole>(_Type);
  started = true;
  return true;
}

void CTCPIP::StartListening(uint16_t port) {
  assert(!IsCurrentThread());
  if (!IsServer() || active || !started) return;
  UniqueSocket listener(CreateTcpSocket());
  if (!listener.Valid()) {
    Diag("CTCPIP::StartListening - socket() - error : %ld\n", static_cast<long>(LastSocketError()));
    return;
  }
  // Lets a restarted server take its port back while old connections linger
  // in TIME_WAIT; a port another program listens on is still refused.
  const int on = 1;
  setsockopt(listener.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (!BindAnyAddress(listener.Get(), port)) {
    Diag("CTCPIP::StartListening - bind() - failed\n");
    return;
  }
  if (!ListenOn(listener.Get(), 5)) {
    Diag("CTCPIP::StartListening - listen() - Can't listening on socket\n");
    return;
  }
  listeningPort = LocalPort(listener.Get());
  mainSocket = std::move(listener);
  active = true;
  Start();
}

void CTCPIP::Stop() {
  if (!active) return;
  if (!IsCurrentThread()) {
    // The last notices (departures, the shutdown) get a moment to leave,
    // and browsers are told the host is going after them.
    CMonitorGuard guard(*this);
    drainDeadline = std::chrono::steady_clock::now() + limits.closingGrace;
    if (IsServer()) connections.SayGoodbye();
  }
  if (!active.exchange(false)) return;
  // Whoever drains the queue looks at the connection's end too.
  packetQueue.Ready().Signal();
  Close();
  if (IsCurrentThread()) {
    // A client that lost its server: the window may still be sending on the
    // same socket, so its number stays reserved until Cleanup or the next
    // Connect.
    clientSocket.Shutdown();
    return;
  }
  wake.Signal();
  Wait();
  mainSocket.Reset();
  clientSocket.Shutdown();
}

void CTCPIP::Cleanup() {
  if (!started) return;
  // Cleanup waits for the socket thread, so that thread must never call it.
  assert(!IsCurrentThread());
  // The socket thread reads `started` as it begins: clear it once that
  // thread is gone.
  Stop();
  Wait();
  started = false;
  CMonitorGuard guard(*this);
  nickname.reset();
  nicknameLength = 0;
  role.reset();
  clientSocket.Close();
  connections.Clear();
  frontDoor.reset();
  refusalDesk.Clear();
  clientTable.Clear();
  ownUser.reset();
  // Whom the host's user kept out is kept out until the host stops.
  keptOut.Clear();
  readSet.Reset();
  readySet.Reset();
  serverStream.clear();
  packetQueue.Clear();
  listeningPort = 0;
  SocketLayerShutdown();
}

std::vector<std::pair<Socket, std::string>> CTCPIP::ClientTable() {
  CMonitorGuard guard(*this);
  return clientTable.Names();
}

size_t CTCPIP::ClientCount() {
  CMonitorGuard guard(*this);
  return clientTable.Count();
}

void CTCPIP::SetOwnUser(SocketAddress client) {
  CMonitorGuard guard(*this);
  ownUser = client;
  for (const auto& [s, name] : clientTable.Names()) clientTable.SetHostUser(s, PeerAddress(s) == client);
}

uint32_t CTCPIP::WatchedSocketCount() {
  CMonitorGuard guard(*this);
  return readSet.fd_count;
}
