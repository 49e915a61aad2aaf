#pragma once
// The announcement of a hosted chat on the local network: a DNS-SD service
// of type _jaselo._tcp on the chat's port, published through avahi-daemon
// while the object lives, and withdrawn when it goes. Without a daemon the
// chat runs as it would anyway: one diagnostic line says it is not announced
// and why, and the announcement appears if the daemon comes.

#include <avahi-client/publish.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "discovery/avahisession.h"

class CChatAnnouncer : private CAvahiSession {
 public:
  // Announces "<nick> on <machine>" with the nickname in the TXT record, and
  // tls=1 with the short form of the chat's key when it has one.
  CChatAnnouncer(std::string nick, uint16_t port, std::string shortKey = {});
  ~CChatAnnouncer() override;

  // Begins announcing without waiting for the daemon.
  void Start();
  // How many people are in the chat: the TXT record follows (a count, never
  // a name). From any thread but the announcer's own.
  void SetPeople(size_t count);

 private:
  void OnRunning(AvahiClient* client) override;
  void OnRenaming() override;
  void OnDown(int error) override;
  static void OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);
  // Adds the service under `name` and commits; false with `call` naming what failed.
  bool Publish(const char*& call);
  // The TXT record as it stands; the caller frees it.
  AvahiStringList* Txt() const;
  // Takes the name the daemon proposes after `name` ("alice on pc #2").
  bool Rename();
  void SayNotAnnounced(const char* call, int error);

  const std::string nick;
  const uint16_t port;
  const std::string shortKey;
  std::string name;
  AvahiEntryGroup* group = nullptr;
  bool toldNotAnnounced = false;
  size_t people = 0;
};
