#pragma once
// The chats announced on the local network, followed live through
// avahi-daemon: one per announced name, whatever the number of interfaces
// it is seen on, with its IPv4 address and port once resolved. Each change
// goes to the listener as a whole new listing.

#include <avahi-client/lookup.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "discovery/avahisession.h"
#include "discovery/chatservice.h"

class CChatBrowser : private CAvahiSession {
 public:
  // Called on the browser's own thread, never after the destructor has
  // begun: hand the listing on, do not touch widgets there.
  using Listener = std::function<void(const ChatListing&)>;

  explicit CChatBrowser(Listener listener);
  ~CChatBrowser() override;

  // Begins following without waiting for the daemon. False when the
  // browser's thread cannot run; the listener then hears nothing.
  bool Start();

 private:
  // One announcement as seen on one interface.
  struct Sighting {
    AvahiServiceResolver* resolver = nullptr;
    bool resolved = false;
    FoundChat found;
  };
  // By interface index: the lowest resolved one is the one listed.
  using Sightings = std::map<AvahiIfIndex, Sighting>;
  // (name, domain): the type is always ours.
  using ChatKey = std::pair<std::string, std::string>;

  void OnRunning(AvahiClient* client) override;
  void OnDown(int error) override;
  static void OnBrowse(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                       AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                       AvahiLookupResultFlags flags, void* self);
  static void OnResolve(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                        AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                        const char* host, const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
                        AvahiLookupResultFlags flags, void* self);
  void Tell();

  Listener listener;
  AvahiServiceBrowser* browser = nullptr;
  std::map<ChatKey, Sightings> chats;
  ChatListing told;
};
