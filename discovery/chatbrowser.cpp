#include "discovery/chatbrowser.h"

#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <algorithm>

CChatBrowser::CChatBrowser(Listener listener) : listener(std::move(listener)) {}

CChatBrowser::~CChatBrowser() { StopSession(); }

bool CChatBrowser::Start() { return StartSession(); }

namespace {
// The value of `key` in a TXT record, empty when it has none.
std::string TxtValue(AvahiStringList* txt, const char* key) {
  AvahiStringList* entry = avahi_string_list_find(txt, key);
  char* value = nullptr;
  if (!entry || avahi_string_list_get_pair(entry, nullptr, &value, nullptr) < 0 || !value) return {};
  std::string out(value);
  avahi_free(value);
  return out;
}

std::string WhyNot(int error) {
  if (error == AVAHI_ERR_NO_DAEMON) return "avahi-daemon is not running";
  return std::string("avahi-daemon cannot be asked (") + avahi_strerror(error) + ")";
}
}  // namespace

void CChatBrowser::OnRunning(AvahiClient* client) {
  told.searching = true;
  told.whyNot.clear();
  if (!browser) {
    // IPv4 only, as the chat itself.
    browser = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, AVAHI_PROTO_INET, CHAT_SERVICE_TYPE, nullptr,
                                        AvahiLookupFlags(0), OnBrowse, this);
  }
  if (!browser) OnDown(avahi_client_errno(client));
  else Tell();
}

void CChatBrowser::OnDown(int error) {
  // The browser and the resolvers are freed with the client.
  browser = nullptr;
  chats.clear();
  told.searching = false;
  told.whyNot = WhyNot(error);
  Tell();
}

void CChatBrowser::OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                            AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                            AvahiLookupResultFlags, void* self) {
  auto* b = static_cast<CChatBrowser*>(self);
  AvahiClient* client = avahi_service_browser_get_client(browser);
  switch (event) {
    case AVAHI_BROWSER_NEW: {
      Sighting& s = b->chats[{name, domain}][interface];
      if (s.resolver) break;
      // Kept open: the daemon tells it when the address, port or TXT change.
      s.resolver = avahi_service_resolver_new(client, interface, protocol, name, type, domain, AVAHI_PROTO_INET,
                                              AvahiLookupFlags(0), OnResolve, self);
      break;
    }
    case AVAHI_BROWSER_REMOVE: {
      const auto chat = b->chats.find({name, domain});
      if (chat == b->chats.end()) break;
      const auto seen = chat->second.find(interface);
      if (seen == chat->second.end()) break;
      if (seen->second.resolver) avahi_service_resolver_free(seen->second.resolver);
      chat->second.erase(seen);
      if (chat->second.empty()) b->chats.erase(chat);
      b->Tell();
      break;
    }
    case AVAHI_BROWSER_FAILURE:
      avahi_service_browser_free(browser);
      for (auto& [key, sightings] : b->chats)
        for (auto& [index, s] : sightings)
          if (s.resolver) avahi_service_resolver_free(s.resolver);
      b->chats.clear();
      b->browser = nullptr;
      b->told.searching = false;
      b->told.whyNot = WhyNot(avahi_client_errno(client));
      b->Tell();
      break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_CACHE_EXHAUSTED: break;
  }
}

void CChatBrowser::OnResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol,
                             AvahiResolverEvent event, const char* name, const char*, const char* domain, const char*,
                             const AvahiAddress* address, uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                             void* self) {
  auto* b = static_cast<CChatBrowser*>(self);
  const auto chat = b->chats.find({name, domain});
  if (chat == b->chats.end()) return;
  const auto seen = chat->second.find(interface);
  if (seen == chat->second.end() || seen->second.resolver != resolver) return;
  Sighting& s = seen->second;
  if (event == AVAHI_RESOLVER_FOUND && address && address->proto == AVAHI_PROTO_INET) {
    char dotted[AVAHI_ADDRESS_STR_MAX];
    avahi_address_snprint(dotted, sizeof dotted, address);
    s.found = Found(name, TxtValue(txt, "nick"), dotted, port, TxtValue(txt, TXT_TLS), TxtValue(txt, TXT_KEY));
    s.found.people = PeopleCount(TxtValue(txt, "people"));
    s.resolved = true;
  } else {
    // Not answered in time: listed again if a later answer comes.
    s.resolved = false;
  }
  b->Tell();
}

void CChatBrowser::Tell() {
  told.chats.clear();
  for (const auto& [key, sightings] : chats) {
    for (const auto& [index, s] : sightings) {
      if (!s.resolved) continue;
      told.chats.push_back(s.found);
      break;
    }
  }
  std::sort(told.chats.begin(), told.chats.end(), ListedBefore);
  if (listener) listener(told);
}
