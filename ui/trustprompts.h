#pragma once
// The questions the window asks before it joins a host: whether to join one
// whose key is not the one remembered for it, and the chat's password.

#include <QString>
#include <string>

#include "net/security.h"

class QWidget;

// The short form of a key as people read it out: groups of four of its first
// 16 hex digits ("3F2A 9C01 77B4 E0D2"), from 64 digits or from 16.
QString GroupedKey(const std::string& hex);

// Explains that the host at `where` ("192.0.2.10:27015") presented another
// key than the one remembered (or announced), showing both, and what that may
// mean. True only when the user chooses "Connect anyway", which is not the
// default: Enter and Escape both keep the user out.
bool ConfirmChangedKey(QWidget* parent, const QString& where, const ConnectReport& report);

// Says that the host at `where`, never met, offers no encryption, so that
// anyone on the network could read the chat or pose as the host. True only
// when the user chooses "Connect without encryption", which is not the
// default.
bool ConfirmPlainHost(QWidget* parent, const QString& where);

// Asks for the password of the chat at `where`, saying first that the last
// one was wrong when `wrong`. False when the user gives none.
bool AskChatPassword(QWidget* parent, const QString& where, bool wrong, std::string& password);
