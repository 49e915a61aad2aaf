#pragma once
// Showing someone out of a hosted chat: the host's user picks how long their
// address stays out, and a removed participant's window says for how long.

#include <QString>
#include <chrono>
#include <cstdint>
#include <optional>

class QWidget;

// "Remove from chat": the time the address is kept out (zero: until the host
// stops), or nothing when the user cancels.
std::optional<std::chrono::seconds> AskKeepOut(QWidget* parent, const QString& name);

// The removed participant's notice, for a keep-out of `seconds`
// (KEPT_OUT_UNTIL_STOP: until the host stops).
QString RemovedNotice(uint32_t seconds);
