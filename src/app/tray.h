#pragma once
// The one notification-area icon: adding and re-adding it, balloon notices, the tray menu and
// the "声音" action. Window thread only.

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "worker/worker.h"

namespace varn {

constexpr UINT kTrayIconId = 1;
constexpr size_t kTipChars = 127;
constexpr size_t kBalloonTitleChars = 63;
constexpr size_t kBalloonTextChars = 255;

// (Re)creates the icon on the main window.
void AddTrayIcon();
// Removes the icon and frees its image (window destruction).
void RemoveTrayIcon();
// Shows a balloon on the icon. Dropped without an icon.
void ShowTrayBalloon(const std::wstring& title, const std::wstring& text, NoticeIcon icon);
// Handles WM_APP_TRAY.
void OnTrayCallback(HWND window, LPARAM lParam);
void OpenSoundSettings();

// The record as it is filled for adding the icon, and for a balloon. Separate so that the
// fields can be checked without a shell.
void FillTrayIconRecord(NOTIFYICONDATAW& record, HWND window, HICON icon);
void FillBalloonFields(NOTIFYICONDATAW& record, const std::wstring& title, const std::wstring& text,
                       NoticeIcon icon);
// The tray menu in its ten positions; the caller destroys it.
HMENU BuildTrayMenu(bool autostartChecked);
// Opens the menu at the cursor for the window (the tray's, and the main window's right click);
// alignFlags adds to TPM_RIGHTBUTTON.
void TrackMenuAtCursor(HWND window, HMENU menu, UINT alignFlags);

}  // namespace varn
