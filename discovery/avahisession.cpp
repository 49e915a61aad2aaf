#include "discovery/avahisession.h"

#include <avahi-common/error.h>
#include <sys/time.h>

namespace {
// How long a session without a system bus waits before asking again: the
// client library follows a daemon that comes and goes, but not the bus.
constexpr int BUS_RETRY_SECONDS = 5;
}  // namespace

CAvahiSession::~CAvahiSession() { StopSession(); }

bool CAvahiSession::StartSession() {
  if (poll) return true;
  poll = avahi_threaded_poll_new();
  if (!poll) return false;
  const AvahiPoll* api = avahi_threaded_poll_get(poll);
  // The first connection is made on the thread, as soon as it runs.
  timeval now{};
  retry = api->timeout_new(api, &now, OnRetry, this);
  if (!retry || avahi_threaded_poll_start(poll) < 0) {
    avahi_threaded_poll_free(poll);
    poll = nullptr;
    retry = nullptr;
    return false;
  }
  return true;
}

void CAvahiSession::StopSession() {
  if (!poll) return;
  avahi_threaded_poll_stop(poll);
  // The client closes its bus connection before freeing its entries, so
  // this asks the daemon nothing; the daemon drops what a closed
  // connection had published.
  if (client) avahi_client_free(client);
  client = nullptr;
  avahi_threaded_poll_free(poll);  // with the retry timeout
  poll = nullptr;
  retry = nullptr;
}

void CAvahiSession::WithSessionHeld(const std::function<void()>& change) {
  if (poll) avahi_threaded_poll_lock(poll);
  change();
  if (poll) avahi_threaded_poll_unlock(poll);
}

void CAvahiSession::RetryIn(int seconds) {
  timeval when{};
  gettimeofday(&when, nullptr);
  when.tv_sec += seconds;
  const AvahiPoll* api = avahi_threaded_poll_get(poll);
  api->timeout_update(retry, &when);
}

void CAvahiSession::OnRetry(AvahiTimeout* timeout, void* self) {
  auto* session = static_cast<CAvahiSession*>(self);
  avahi_threaded_poll_get(session->poll)->timeout_update(timeout, nullptr);
  session->Connect();
}

void CAvahiSession::Connect() {
  if (client) avahi_client_free(client);
  client = nullptr;
  failed = false;
  int error = AVAHI_OK;
  // Without a daemon the client waits for it (AVAHI_CLIENT_CONNECTING);
  // without a bus there is no client at all.
  AvahiClient* made =
      avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, OnClientState, this, &error);
  if (!made) {
    OnDown(error);
    RetryIn(BUS_RETRY_SECONDS);
    return;
  }
  // A client that failed while being made was kept for freeing here.
  if (!failed) client = made;
  else avahi_client_free(made);
}

// `client` may be one still being made by avahi_client_new: use the argument.
void CAvahiSession::OnClientState(AvahiClient* client, AvahiClientState state, void* self) {
  auto* session = static_cast<CAvahiSession*>(self);
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING: session->OnRunning(client); break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING: session->OnRenaming(); break;
    case AVAHI_CLIENT_CONNECTING: session->OnDown(AVAHI_ERR_NO_DAEMON); break;
    case AVAHI_CLIENT_FAILURE:
      session->OnDown(avahi_client_errno(client));
      // Freed and made again from the poll loop, not from inside its own
      // callback. A new client without the daemon waits for it.
      session->failed = true;
      session->RetryIn(1);
      break;
  }
}
