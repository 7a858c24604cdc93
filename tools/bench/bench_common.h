#pragma once
// What the benchmark and soak helpers share: finding a program's window from outside, asking
// whether it answers, counting its handles, and the settings the program is started with.

#include <windows.h>

#include <cstdint>
#include <string>

namespace bench {

// The program's main window class, as the scenarios find it.
constexpr wchar_t kProgramClass[] = L"VARNListenFixWindow";

std::uint64_t NowMs();  // milliseconds since 1601, comparable with the stand-in tool's stamps

HWND FindWindowOfClass(const std::wstring& className);
DWORD ProcessOf(HWND window);
// Whether the shell shows an icon for this window and id: a modify that changes nothing
// succeeds only for an icon the shell has.
bool TrayIconShown(HWND window, UINT id = 1);
// The time the window took to handle WM_NULL, or -1 when it did not within the limit.
long long PingMs(HWND window, UINT limitMs);
// Open handles of a process, counted through the system's handle table (Wine answers 0 to
// GetProcessHandleCount); -1 when the table cannot be read.
long long HandleCount(DWORD processId);

// Saves the sound card input and the phone output of the world (aliases card-in, phone-out) as
// the program's choices, in a settings key emptied first, so that it connects them at start.
bool ChooseCardAndPhone();

// Empty when the world's routes are as the program should keep them with every device there:
// the card input listened to on the bridge's playback, the bridge's capture on the phone, and
// nothing else listening; otherwise what differs.
std::string RouteProblem();

// Lines in a text file (0 when it is missing), and the n-th line (from 0).
size_t CountLines(const std::wstring& path);
std::string LineAt(const std::wstring& path, size_t index);

std::string Utf8(const std::wstring& text);

bool WriteTextFile(const std::wstring& path, const std::string& text);
bool AppendTextFile(const std::wstring& path, const std::string& text);

}  // namespace bench
