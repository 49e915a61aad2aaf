#pragma once
// List box of the dialogs, showing the keyboard focus like the text boxes.

#include <QListWidget>

#include "ui/toolkit/focusmarked.h"

using CListBox = CFocusMarked<QListWidget>;
