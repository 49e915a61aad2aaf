#pragma once
// The per-user folder the program runs in when started from the menu, so that
// config.cfg always has a writable home whatever folder the desktop chose.

#include <string>

// $XDG_CONFIG_HOME/jaselo, or $HOME/.config/jaselo when XDG_CONFIG_HOME is
// unset, empty or not absolute; empty when neither can be found.
std::string UserFolderPath();

// Makes the folder (and its parents) when missing and makes it the current
// folder. On failure returns false and says why in `error`.
bool EnterUserFolder(std::string& error);
