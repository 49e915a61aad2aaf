#include "discovery/chatannouncer.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <string>
#include <vector>

#include "app/version.h"
#include "discovery/chatservice.h"
#include "protocol/diagnostics.h"
#include "web/frontdoor.h"

CChatAnnouncer::CChatAnnouncer(std::string nick, uint16_t port, std::string shortKey)
    : nick(std::move(nick)), port(port), shortKey(std::move(shortKey)), name(InstanceName(this->nick, MachineName())) {}

CChatAnnouncer::~CChatAnnouncer() { StopSession(); }

void CChatAnnouncer::Start() {
  if (!StartSession()) SayNotAnnounced("avahi_threaded_poll_start()", AVAHI_ERR_FAILURE);
}

void CChatAnnouncer::SayNotAnnounced(const char* call, int error) {
  // Once: a daemon that comes and goes must not fill the output.
  if (toldNotAnnounced) return;
  toldNotAnnounced = true;
  Diag("CChatAnnouncer::Announce() - %s - error : %d (%s) - the chat is not announced\n", call, error,
       avahi_strerror(error));
}

void CChatAnnouncer::OnRunning(AvahiClient* client) {
  if (!group) group = avahi_entry_group_new(client, OnGroupState, this);
  if (!group) {
    SayNotAnnounced("avahi_entry_group_new()", avahi_client_errno(client));
    return;
  }
  if (!avahi_entry_group_is_empty(group)) return;
  const char* call = nullptr;
  if (!Publish(call)) SayNotAnnounced(call, avahi_client_errno(client));
}

AvahiStringList* CChatAnnouncer::Txt() const {
  // Each entry goes in front of the list: the last one added comes first.
  AvahiStringList* txt = nullptr;
  if (!shortKey.empty()) {
    txt = avahi_string_list_add(txt, (std::string(TXT_KEY) + "=" + shortKey).c_str());
    txt = avahi_string_list_add(txt, (std::string(TXT_TLS) + "=1").c_str());
  }
  // web: where a browser finds the chat's page on the same port.
  for (const std::string& entry :
       {"web=" + std::string(PAGE_PATH), "people=" + std::to_string(people), std::string("version=") + JASELO_VERSION,
        "nick=" + nick, std::string("txtvers=") + CHAT_TXT_VERSION}) {
    txt = avahi_string_list_add(txt, entry.c_str());
  }
  return txt;
}

bool CChatAnnouncer::Publish(const char*& call) {
  AvahiStringList* txt = Txt();
  call = "avahi_entry_group_add_service()";
  // A name someone on the network already has is renamed as the daemon
  // proposes ("alice on pc #2"), here or in the group's collision state.
  int r = 0;
  do {
    r = avahi_entry_group_add_service_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                             name.c_str(), CHAT_SERVICE_TYPE, nullptr, nullptr, port, txt);
  } while (r == AVAHI_ERR_COLLISION && Rename());
  avahi_string_list_free(txt);
  if (r < 0) return false;
  call = "avahi_entry_group_commit()";
  return avahi_entry_group_commit(group) >= 0;
}

void CChatAnnouncer::SetPeople(size_t count) {
  WithSessionHeld([&] {
    if (count == people) return;
    people = count;
    // Not yet published: the record is made with the count when it is.
    if (!group || avahi_entry_group_is_empty(group)) return;
    AvahiStringList* txt = Txt();
    avahi_entry_group_update_service_txt_strlst(group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
                                                name.c_str(), CHAT_SERVICE_TYPE, nullptr, txt);
    avahi_string_list_free(txt);
  });
}

void CChatAnnouncer::OnGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
  auto* announcer = static_cast<CChatAnnouncer*>(self);
  AvahiClient* client = avahi_entry_group_get_client(group);
  if (state == AVAHI_ENTRY_GROUP_COLLISION) {
    avahi_entry_group_reset(group);
    const char* call = "avahi_alternative_service_name()";
    if (!announcer->Rename() || !announcer->Publish(call)) announcer->SayNotAnnounced(call, avahi_client_errno(client));
  } else if (state == AVAHI_ENTRY_GROUP_FAILURE) {
    announcer->SayNotAnnounced("avahi_entry_group_commit()", avahi_client_errno(client));
  }
}

bool CChatAnnouncer::Rename() {
  char* other = avahi_alternative_service_name(name.c_str());
  if (!other) return false;
  name = other;
  avahi_free(other);
  return true;
}

void CChatAnnouncer::OnRenaming() {
  if (group) avahi_entry_group_reset(group);
}

void CChatAnnouncer::OnDown(int error) {
  group = nullptr;  // freed with the client
  SayNotAnnounced("avahi_client_new()", error);
}
