#pragma once
// One connection to the system's avahi-daemon, on a thread of its own (the
// daemon's client library runs its callbacks there). The connection is made
// on that thread, so that neither the start nor the stop of its owner waits
// on the bus or the daemon. A daemon that is missing, goes away or comes
// back is followed: the client is made again and the subclass is told.

#include <avahi-client/client.h>
#include <avahi-common/thread-watch.h>

#include <functional>

class CAvahiSession {
 public:
  virtual ~CAvahiSession();
  CAvahiSession(const CAvahiSession&) = delete;
  CAvahiSession& operator=(const CAvahiSession&) = delete;

 protected:
  CAvahiSession() = default;

  // Starts the thread; false when it cannot run (the subclass is then told
  // nothing). The subclass's state belongs to that thread from here on.
  bool StartSession();
  // Ends the thread and frees the client with everything made on it. Every
  // subclass calls it in its destructor, before its own members go.
  void StopSession();
  // Runs `change` while the session's thread is held off, for a caller on
  // another thread; without a running session, runs it at once.
  void WithSessionHeld(const std::function<void()>& change);

  // On the session's thread. The daemon runs and answers: make the entries
  // or browsers on `client` (again, after a Down).
  virtual void OnRunning(AvahiClient* client) = 0;
  // The daemon is renaming its host: published entries must be withdrawn
  // until the next OnRunning.
  virtual void OnRenaming() {}
  // Nothing can be asked (no bus, no daemon, the daemon gone); `error` is
  // Avahi's code. Whatever was made on the client is freed with it: forget
  // those handles without freeing them.
  virtual void OnDown(int error) = 0;

 private:
  static void OnClientState(AvahiClient* client, AvahiClientState state, void* self);
  static void OnRetry(AvahiTimeout* timeout, void* self);
  // On the thread: replaces a failed client by a new one.
  void Connect();
  void RetryIn(int seconds);

  AvahiThreadedPoll* poll = nullptr;
  AvahiClient* client = nullptr;
  AvahiTimeout* retry = nullptr;
  bool failed = false;  // `client` has failed and waits to be replaced
};
