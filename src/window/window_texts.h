// The window front end's identifiers and texts: the menu items and their
// commands, the string table of status-bar help, the dialogs' resources and
// controls. Every widget carries its identifier as its objectName, so that
// tests and accessibility tools find it by that number.
//
// Threading: constants and pure functions.

#ifndef TALVO_WINDOW_WINDOW_TEXTS_H_
#define TALVO_WINDOW_WINDOW_TEXTS_H_

#include <string>

namespace talvo::window {

inline constexpr char kCaption[] = "Talvo Daemon";
inline constexpr char kTitle[] = "Talvo Daemon";
inline constexpr char kReady[] = "Ready";

// Resources.
inline constexpr int kMenuWindow = 101;  // without the tray
inline constexpr int kMenuTray = 118;    // tray mode: with "&Stop"
inline constexpr int kIconId = 127;
inline constexpr int kTrayIconId = 300;
inline constexpr int kAboutDialogId = 100;
inline constexpr int kConfigurationDialogId = 127;
inline constexpr int kOptionsDialogId = 128;
inline constexpr int kOutputDialogId = 129;

// Commands.
inline constexpr int kCmdExit = 40003;
inline constexpr int kCmdAbout = 40014;
inline constexpr int kCmdStatusBar = 40026;
inline constexpr int kCmdContents = 40032;
inline constexpr int kCmdConfiguration = 40033;
inline constexpr int kCmdClear = 40034;
inline constexpr int kCmdOptions = 40035;  // on no menu
inline constexpr int kCmdOutput = 40036;
inline constexpr int kCmdHide = 40037;  // in the string table only
inline constexpr int kCmdStop = 40038;

// Controls of the options dialog.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdHelp = 3;
inline constexpr int kIdSetDefaults = 5;
inline constexpr int kIdReapTime = 1002;
inline constexpr int kIdInteropFile = 1006;
inline constexpr int kIdLogFile = 1007;
inline constexpr int kIdReapSpin = 1022;
inline constexpr int kIdUps = 1030;
inline constexpr int kIdProtected = 1031;
inline constexpr int kIdInterop = 1032;
inline constexpr int kIdLog = 1033;
// Radio buttons of the output dialog: TraceLevel 0, 1, 2.
inline constexpr int kIdSilent = 1010;
inline constexpr int kIdDefault = 1011;
inline constexpr int kIdMaximum = 1012;

// The system menu's commands (the window manager's own menu).
inline constexpr int kSysSize = 0xF000;
inline constexpr int kSysMove = 0xF010;
inline constexpr int kSysMinimize = 0xF020;
inline constexpr int kSysMaximize = 0xF030;
inline constexpr int kSysClose = 0xF060;
inline constexpr int kSysRestore = 0xF120;
inline constexpr int kSysTaskList = 0xF130;

// The status-bar text while the menu item `id` is selected: "Ready" for
// the items below 4 (the menus themselves) and for an identifier the
// string table does not hold, otherwise its help string (at most 80
// characters).
std::string menuHelpText(int id);

// The objectName of a widget with identifier `id`.
std::string idName(int id);

}  // namespace talvo::window

#endif  // TALVO_WINDOW_WINDOW_TEXTS_H_
