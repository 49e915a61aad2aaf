#pragma once
// Showing someone out of a hosted chat: the host's user picks how long their
// address stays out; a participant kept out is told why and for how long.

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

class QWidget;

// "Remove from chat": the time the address is kept out (zero: until the host
// stops), or nothing when the user cancels.
std::optional<std::chrono::seconds> AskKeepOut(QWidget* parent, const QString& name);

// What a participant the host keeps out is told: removed (REFUSED_REMOVED)
// for `seconds` (KEPT_OUT_UNTIL_STOP: until the host stops), or turned away
// at the door (REFUSED_CHAT_FULL...).
QString KeptOutNotice(uint16_t reason, uint32_t seconds);
