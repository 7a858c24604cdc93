#pragma once
// The soak's user and its judge. The user works the running program through its own window as a
// person does: picks in either list (then 立即连接), connects, cancels, switches autostart and
// restarts the program through the tray's exit and a new start; it closes the boxes the program
// shows. The judge looks at the world at quiet points and says whether a route strays: every
// endpoint that listens must be one of the two routes the program built last (the sound card
// input into the bridge playback, the bridge capture into the phone output), none may listen
// after a cancel, and the routes last built must be the ones the window shows as chosen.

#include <windows.h>

#include <random>
#include <string>
#include <vector>

namespace soak {

// The program's window and process, and where it lives.
struct ProgramWindow {
  HWND window = nullptr;
  DWORD processId = 0;
  std::wstring appDir;  // the program's folder: its exe and its log
};

// The user's actions; each returns what it did, for the event list, or empty when it could not
// act (a greyed button, an empty list).
std::wstring PickAndConnect(ProgramWindow& program, std::mt19937& random);
std::wstring PickByName(ProgramWindow& program, int comboId, const std::wstring& name);
std::wstring Connect(ProgramWindow& program);
std::wstring Cancel(ProgramWindow& program);
std::wstring ToggleAutostart(ProgramWindow& program);
// Ends the program through its tray exit and starts it again from its folder; false (with the
// reason) when it did not end with code 0 or no window came.
bool Restart(ProgramWindow& program, std::string& problem);
// Closes a message box the program shows; true when there was one. A box means a refusal or
// a failure, so the judge stops asking the routes to follow the choice until the next build.
bool CloseBox(ProgramWindow& program);

// Waits until the program is settled: no event for two polls, the log unchanged for one poll and
// no task open. `idle` runs meanwhile every 250 ms (pings, boxes).
void WaitUntilQuiet(const ProgramWindow& program, void (*idle)(void*), void* context);

// The status line as the window shows it now, on one line.
std::wstring StatusLine(const ProgramWindow& program);

// What strays, one text per problem; empty when the routes are as they must be.
std::vector<std::string> JudgeRoutes(const ProgramWindow& program);

}  // namespace soak
