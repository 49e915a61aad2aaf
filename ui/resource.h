#pragma once
// Identifiers of the program's dialogs, controls, images and strings.

// Dialogs.
constexpr int IDD_JASELO_DIALOG = 102;
constexpr int IDD_INIT_DIALOG = 156;

// String.
constexpr int IDS_SOCKETS_FAILED = 103;

// Icon and button images.
constexpr int IDR_MAINFRAME = 128;
constexpr int IDB_BOLD_OFF = 136;
constexpr int IDB_BOLD_ON = 137;
constexpr int IDB_ITALIC_OFF = 138;
constexpr int IDB_ITALIC_ON = 139;
constexpr int IDB_UNDERLINE_OFF = 140;
constexpr int IDB_UNDERLINE_ON = 141;
constexpr int IDB_COLOR = 154;
constexpr int IDB_FONT = 155;
constexpr int IDB_ATTACH = 157;

// Chat window controls.
constexpr int IDC_SEND = 1000;
constexpr int IDC_INPUTBOX = 1001;
constexpr int IDC_FONT = 1003;
constexpr int IDC_COLOR = 1004;
constexpr int IDC_BOLD = 1005;
constexpr int IDC_ITALIC = 1006;
constexpr int IDC_UNDERLINE = 1007;
constexpr int IDC_TRANSCRIPT = 1008;
constexpr int IDC_ATTACH = 1009;

// Settings dialog controls.
constexpr int IDC_PSEUDO = 1012;
constexpr int IDC_IPADDRESS = 1013;
constexpr int IDC_PORT = 1014;
constexpr int IDC_CLIENT = 1021;
constexpr int IDC_SERVER = 1022;
constexpr int IDC_FOUND_CHATS = 1031;
constexpr int IDC_PASSWORD = 1032;
constexpr int IDC_ENCRYPTED_ONLY = 1033;
