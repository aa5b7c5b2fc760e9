#pragma once

// Command identifiers of the main sheet's menu (menu 149) and its controls.
// Menu actions carry their identifier as action data and as object name,
// the identifier in decimal; so do the strip controls and the dialogs.

namespace cmd {

constexpr int kMainMenu = 149;

constexpr int kEnterPassword = 32806;
constexpr int kChangePassword = 32807;
constexpr int kFileLoad = 130;
constexpr int kFileSaveAs = 129;
constexpr int kSaveAsDefault = 32803;
constexpr int kExit = 57665;
constexpr int kSerialStatus = 32771;
constexpr int kSerialRead = 32772;
constexpr int kSerialWrite = 32773;
constexpr int kRemoteStatus = 32793;
constexpr int kRemoteRead = 32791;
constexpr int kRemoteWrite = 32792;
constexpr int kClear = 32799;
constexpr int kRestoreDefaults = 32800;
constexpr int kApplyToLast = 32808;
constexpr int kLanguageBase = 37375;   // language entry i is kLanguageBase + 1 + i
constexpr int kLanguageFirst = 37376;
constexpr int kLanguageLast = 37632;
constexpr int kAbout = 32796;

// Keys of the popup texts in menu 149 (popups have no command of their own).
constexpr int kPopupFile = 1;
constexpr int kPopupConfiguration = 2;
constexpr int kPopupHelp = 3;
constexpr int kPopupSerial = 4;
constexpr int kPopupRemote = 5;

// Controls of the strip below the pages and the sheet's button.
constexpr int kFrame = 105;
constexpr int kComPortLabel = 106;
constexpr int kComPortValue = 107;
constexpr int kRemoteLabel = 108;
constexpr int kRemoteValue = 109;
constexpr int kLastReadLabel = 111;
constexpr int kLastReadValue = 112;
constexpr int kExitButton = 2;

} // namespace cmd
