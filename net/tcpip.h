#pragma once
// One TCP endpoint over IPv4, in the server or the client role, with its own
// socket thread (the CThread base) and its own endpoint lock (the CMonitor
// base of that). The server keeps the table of identified clients; its
// watched connections are a ServerConnections, the client's connection a
// ClientConnection, both owned here.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/addresshold.h"
#include "net/clientconnection.h"
#include "net/clienttable.h"
#include "net/connectrate.h"
#include "net/fileexchange.h"
#include "net/packetqueue.h"
#include "net/refusaldesk.h"
#include "net/security.h"
#include "net/serverconnections.h"
#include "net/sockets.h"
#include "net/socketset.h"
#include "net/thread.h"
#include "net/transportlimits.h"
#include "net/wrongpasswords.h"
#include "protocol/extension.h"
#include "protocol/headers.h"
#include "protocol/packet.h"
#include "web/frontdoor.h"

// Threads. The UI thread (or a tool's main thread) calls Startup,
// StartListening, Connect, Stop and Cleanup; the client's socket thread also
// calls Stop when it loses its server. The socket thread runs ThreadProc: the
// waiting, accepting and receiving, and the receive handling (which tests and
// fuzzers may also drive without a socket thread); on the server it also
// relays, routes and removes clients, through HandleQueued, in the wake-up
// that received the messages. A client's queue is popped by its poll loop.
// The send operations may run on any thread: they only append to a
// connection's output and never wait on a peer (the socket thread writes what
// a socket could not take at once). An output batch is opened and closed on
// one thread: a poll loop around its draining, the socket thread around each
// wake-up. Everything the threads share is guarded by the endpoint lock
// (the CMonitor base), except the atomics below and the packet queue and the
// client's connection, which have locks of their own.
// What a client endpoint asks for in the HELLO it sends behind its welcome.
constexpr uint16_t CLIENT_UNDERSTANDS = UNDERSTANDS_PEOPLE | UNDERSTANDS_EARLIER;
// Inside TLS, where only hosts of our own answer, it asks for a pass too: a
// server of the plain protocol receives the HELLO it always has.
constexpr uint16_t CLIENT_UNDERSTANDS_ENCRYPTED = CLIENT_UNDERSTANDS | UNDERSTANDS_PASS;

class CTCPIP : public CThread {
 public:
  CTCPIP();
  ~CTCPIP() override;

  bool Startup(uint16_t _Type, const char* nickname = nullptr);
  void StartListening(uint16_t port);
  bool Connect(const char* address, uint16_t port);
  void Stop();
  void Cleanup();
  uint32_t ThreadProc() override;

  void ProcessIncomingData(const uint8_t* bytes, uint16_t n, Socket socket);
  void ProcessWelcomeData(const uint8_t* payload, uint16_t n, Socket socket);
  bool SendWelcomeMessage(Socket socket, const char* nickname);
  // `origin` is the serial of the connection whose line is relayed (0: the
  // server's own message); it is what holds a flooding sender back.
  void SendPrivateMessage(const CPacket& packet, Socket socket, uint64_t origin = 0);
  void SendMessageToAll(const CPacket& packet, uint64_t origin = 0);
  void RemoveClientByName(const char* nickname);
  // Server role, any thread: the host's user shows `nickname` out. Everyone
  // else sees the departure of a connection that ended; a client that asked
  // for our messages is told first (REFUSED_REMOVED). The address is kept out
  // for `keepOut` (zero: until the host stops). False when nobody of that
  // name is here.
  bool ShowOut(const char* nickname, std::chrono::seconds keepOut);

  // Server role: what the sends append while a batch is open waits for the
  // batch's end and then leaves with one write per reader, however many
  // messages the pass relayed. Outside any batch every send writes at once.
  void BeginOutputBatch();
  void EndOutputBatch();

  void SetLimits(const TransportLimits& limits) {
    this->limits = limits;
    connectRate = ConnectRate(limits.connectBurst, limits.connectsPerSecond);
  }
  // Server role: what the page served to browsers shows and how their
  // requests are judged; taken by the next Startup.
  void SetWebSettings(const WebSettings& settings) { webSettings = settings; }
  // Server role: requests for shared files go to `handOff`, and those who
  // ask are given upload tickets; taken by the next Startup. Null: the host
  // keeps no shared files.
  void SetFileHandOff(FileHandOff handOff) { fileHandOff = std::move(handOff); }
  // Server role, any thread: `ticket` is the upload ticket of a participant
  // still connected, from `address`.
  bool HoldsTicket(const std::string& ticket, uint32_t address);
  // Kept across Cleanup, like the limits: set once, before listening or
  // connecting.
  void SetHostSecurity(HostSecurity security) { hostSecurity = std::move(security); }
  void SetClientSecurity(ClientSecurity security) { clientSecurity = std::move(security); }
  // Client role: the HELLO sent inside TLS asks for shared files too (an
  // upload ticket, and the details of files shared). A plain HELLO stays
  // as a server of the plain protocol has always received it.
  void SetAsksForFiles(bool asks) { asksForFiles = asks; }
  // Client role: how the last Connect went, and whether the connection is
  // encrypted.
  const ConnectReport& LastConnect() const { return lastConnect; }
  // Client role: why the host refused the last connection (REFUSED_*), 0 when
  // it did not; after REFUSED_REMOVED, for how many seconds the host keeps
  // this address out (KEPT_OUT_UNTIL_STOP: until it stops).
  uint16_t Refusal() const { return refusal.load(); }
  uint32_t KeptOutSeconds() const { return keptOutSeconds.load(); }
  // The port actually bound (useful after listening on port 0).
  uint16_t ListeningPort() const { return listeningPort.load(); }
  bool IsActive() const { return active.load(); }
  bool IsServer() const { return role == TYPE_SERVER; }
  bool IsClient() const { return role == TYPE_CLIENT; }
  // None before Startup and after Cleanup.
  std::optional<EndpointRole> Role() const { return role; }
  uint16_t NicknameLength() const { return nicknameLength; }
  // Snapshots taken under the endpoint lock, in table order.
  std::vector<std::pair<Socket, std::string>> ClientTable();
  size_t ClientCount();
  uint32_t WatchedSocketCount();
  // Client role: this end of the connection to the server.
  SocketAddress LocalAddressOfConnection() const { return LocalAddress(clientSocket.Get()); }
  // Server role: the connection from `client` (the host's own client
  // endpoint) is the host's own user, and the people lists say so.
  void SetOwnUser(SocketAddress client);
  // Server role: `watch` is signalled whenever someone joins or leaves (null:
  // nobody is told). Set it before listening, clear it after stopping.
  void SetPeopleWatch(WakeEvent* watch) { peopleWatch = watch; }
  // Server role: `watch` is called on the socket thread, once each time the
  // chat is full and turns a newcomer away, with a line that says so and
  // which addresses hold the most seats.
  void SetFullWatch(std::function<void(const std::string&)> watch) {
    CMonitorGuard guard(*this);
    fullWatch = std::move(watch);
  }
  uint32_t QueuedCount() const { return packetQueue.GetCount(); }
  // Readable when something new waits for the chat layer: a message in an
  // empty queue, or the end of the connection. The one thread that drains
  // the queue waits on it (and drains the event first).
  WakeEvent& News() { return packetQueue.Ready(); }

  // The socket thread's handling of received bytes, reachable without a
  // network so that fuzzers can drive it: watch an already connected socket
  // as a newcomer (false when the set is full), and hand bytes received from
  // a connection (server role) or from the server (client role).
  bool AdoptConnection(Socket s, uint32_t address = 0x7F000001);
  void HandleReceivedBytes(Socket s, const uint8_t* bytes, size_t n);
  void HandleServerBytes(const uint8_t* bytes, size_t n);

 protected:
  // The listening socket (server role). The client role's socket thread
  // waits on clientSocket instead.
  UniqueSocket mainSocket;
  // Client role: the connected socket and what waits to leave on it.
  ClientConnection clientSocket;
  bool started = false;
  std::atomic<bool> active{false};
  std::optional<EndpointRole> role;
  std::unique_ptr<char[]> nickname;
  uint16_t nicknameLength = 0;
  CPacketQueue packetQueue;
  SocketSet readSet;
  SocketSet readySet;

  // Client role: appends one whole message to the connection's output,
  // without waiting and without the endpoint lock. False, with nothing sent,
  // when the connection has ended or too much already waits to leave.
  bool SendToServer(const CPacket& packet);
  // Several whole messages in one write.
  bool SendToServer(const uint8_t* bytes, size_t n);
  // The oldest queued payload. A client's socket thread that stopped reading
  // at clientQueueLimit is woken once half of the queue has been taken.
  std::unique_ptr<CQueuedPacket> PopQueued();
  // True while the identified client on `s` is still the connection that
  // queued a payload (a departure handled late must not remove a newcomer
  // who took the same socket number and nickname).
  bool IsSameConnection(Socket s, uint64_t serial);
  // Server role: the identified clients, to look at under the endpoint lock.
  // Only the transport changes them.
  const CClientTable& Clients() const { return clientTable; }
  // Server role, under the endpoint lock, on the socket thread: the
  // identified connection on `s` sent its first HELLO, asking for the kinds
  // of our own messages in `understands`. The transport itself answers
  // nothing; the chat layer answers with what it keeps.
  virtual void AnswerHello(Socket s, uint16_t understands);
  // Server role, under the endpoint lock, on the socket thread, inside the
  // wake-up's output batch: what the wake-up received and queued is handled
  // now, so that the host's relaying needs no other thread and its relays
  // leave with the wake-up's one write per reader.
  virtual void HandleQueued();
  // Server role, under the endpoint lock: whether the host keeps shared
  // files, and a new upload ticket for the identified connection on `s`
  // (empty when it has none to give).
  bool Sharing() const { return static_cast<bool>(fileHandOff); }
  std::string GiveTicket(Socket s);

 private:
  // The client's join (tcpip_connect.cpp).
  enum class HandshakeResult { Done, NoAnswer, Failed };
  bool OpenConnection(const char* address, uint16_t port, UniqueSocket& opened);
  bool JoinPlain(const char* address, uint16_t port);
  bool JoinEncryptedFirst(const char* address, uint16_t port);
  HandshakeResult Handshake(Socket s, class TlsStream& tls, std::vector<uint8_t>& early);
  bool FallBackToPlain(const char* address, uint16_t port);
  bool TrustHost(const char* address, uint16_t port, const KeyDigest& key);
  // Notes in the report what the hosts file holds against the host; true
  // when the file cannot be read, which refuses every host.
  bool KnownHostsUnreadable(const HostEntry& entry);

  // Who a server lets in (tcpip_admission.cpp): inside TLS, a HELLO before
  // the welcome carries the chat's password; a wrong one is refused, and an
  // address that gives too many wrong ones is refused for a while.
  bool IsEarlyHello(const ServerConnections::Watched& connection, const uint8_t* block, uint16_t n) const;
  void ProcessEarlyHello(Socket s, ServerConnections::Watched& connection, const uint8_t* block, uint16_t n);
  bool Admitted(const ServerConnections::Watched& connection) const;
  bool PasswordMatches(const std::string& given) const;
  // In constant time; an empty `pass` matches nothing.
  static bool SamePass(const std::string& given, const std::string& pass);
  void Refuse(Socket s, ServerConnections::Watched& connection, uint16_t reason, uint32_t seconds = 0);
  // Whether a newcomer from `address` has a seat: in the set, and within the
  // address's share when `counted`. A page connection that only waits for a
  // browser's next request gives its seat up first. 0 when seated, else why
  // not (REFUSED_CHAT_FULL, REFUSED_ADDRESS_FULL).
  uint16_t Seat(uint32_t address, bool counted);
  // Why a newcomer is not taken in (0: it is), and for how many seconds.
  uint16_t Turned(uint32_t address, bool counted, uint32_t& seconds);
  // "The chat is full…", with the addresses that hold the most seats.
  std::string FullLine() const;
  void DropEnded();

  uint32_t ServerThreadProc();
  uint32_t ClientThreadProc();
  // The server is gone (it closed, failed, or took nothing for sendTimeout):
  // the socket thread stops the endpoint and ends.
  uint32_t LoseServer();
  // Client role: the queue holds clientQueueLimit messages, and reading waits.
  bool QueueFull() const { return packetQueue.GetCount() >= limits.clientQueueLimit; }
  // After the client's socket thread's last pass: what waits to leave gets
  // until drainDeadline (the own departure, at closing).
  void DrainClientOutput();
  // The sockets a wake-up waits on and for what; the wait's time limit.
  int PrepareServerWait(std::vector<pollfd>& fds);
  // Under the lock: writes, accepts and receives what the wait found ready,
  // lets the chat layer handle what that queued, and writes the result.
  void ServePass(const std::vector<pollfd>& fds);
  // False when nothing was readable.
  bool ServeReady(const std::vector<pollfd>& fds);
  void AcceptNewcomers();
  void ReceiveFromConnection(Socket s);
  // A newcomer's first bytes decide which stream its bytes travel through;
  // false when that kind is refused here (or none could be made).
  bool StartStream(ServerConnections::Watched& connection, StreamKind kind);
  // An encrypted newcomer's first plain bytes: false until there are enough
  // to tell a browser's request, which then gets the browser's stream.
  bool SniffInsideTls(Socket s, ServerConnections::Watched& connection, std::vector<uint8_t>& own);
  Doorstep DoorstepOf(Socket s, bool tls) const;
  // Cuts the messages opened so far from a connection's stream and handles them.
  void CutReceived(Socket s);
  // Cuts every complete message from the front of a stream and handles it.
  // `handle` returns false when the connection is gone and cutting must stop.
  template <typename Handle>
  static void CutMessages(std::vector<uint8_t>& stream, bool toServer, Handle handle);
  void HandleServerBlock(Socket s, const uint8_t* block, uint16_t n);
  void QueuePayload(const uint8_t* payload, uint16_t n, Socket socket);
  // A block under HEADER_RESERVED: the server takes a HELLO from an
  // identified connection, the client queues our blocks for the chat layer;
  // everything else is ignored.
  void ProcessReservedData(const uint8_t* block, uint16_t n, Socket socket);
  // Client role: a pass the host gave, kept for the next joins.
  void KeepPass(CDecodePacket& fields);
  // Server: the name a welcome may take, or false.
  bool AcceptableName(const std::string& name) const;
  bool Identified(Socket s) const { return clientTable.Has(s); }
  // Newcomers that never identified themselves, and readers that took
  // nothing for sendTimeout while bytes waited for them.
  void ForgetOverdueConnections();
  // The end of a pass: what the batches appended is written, the readers
  // whose output failed are dropped, and their departures written. A reader
  // that fails on those is dropped at the end of the next pass.
  void FinishPass();
  void WritePending();
  void DropFailedConnections();
  // After the socket thread's last pass: the notices still waiting get until
  // drainDeadline to leave.
  void DrainOutput();
  // A connection that closed, failed or can no longer be trusted: it leaves
  // the table and the watched set, and the others hear of its departure
  // (unless it announced that itself).
  void ForgetConnection(Socket s);
  // A reader whose messages can no longer leave: what waits for it is
  // dropped with the connection, which ends in a reset.
  void ForgetFailedReader(Socket s);
  // Takes a connection out of every server structure and releases its socket.
  void DropConnection(Socket s);
  // A request for a shared file came on `s`: the connection leaves the chat
  // for the file door.
  void HandOffToFileDoor(Socket s);

  // Server role: the identified clients.
  CClientTable clientTable;
  std::optional<SocketAddress> ownUser;
  std::atomic<WakeEvent*> peopleWatch{nullptr};
  void PeopleChanged();
  TransportLimits limits;
  WebSettings webSettings;
  std::unique_ptr<FrontDoor> frontDoor;  // server role
  FileHandOff fileHandOff;
  HostSecurity hostSecurity;
  ClientSecurity clientSecurity;
  bool asksForFiles = false;
  ConnectReport lastConnect;
  std::atomic<uint16_t> refusal{0};
  std::atomic<uint32_t> keptOutSeconds{0};
  WrongPasswords wrongPasswords;  // server role
  RefusalDesk refusalDesk;        // server role, on the socket thread
  std::function<void(const std::string&)> fullWatch;
  bool saidFull = false;  // since a newcomer last found a seat
  // Server role, in a wake-up's list of descriptors: where the desk's begin
  // (the connections come before, the wake-up event last).
  size_t deskFrom = 0;
  AddressHold keptOut;  // server role: addresses the host's user showed out
  std::atomic<uint16_t> listeningPort{0};
  // Server role, on the socket thread: how fast each address may connect,
  // and when accepting resumes after the process ran out of descriptors.
  ConnectRate connectRate{limits.connectBurst, limits.connectsPerSecond};
  std::chrono::steady_clock::time_point acceptResumesAt{};
  std::chrono::steady_clock::time_point drainDeadline{};
  std::vector<uint8_t> serverStream;  // client role: bytes from the server not yet cut
  std::vector<uint8_t> opened;        // client role: what one receive carried, opened
  WakeEvent wake;
  // Server role: the watched connections, their streams and outputs.
  ServerConnections connections{limits, wake, [this] { return IsCurrentThread(); }};
};
