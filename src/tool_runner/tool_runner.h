#pragma once
// Runs the outside sound tool (SoundVolumeView.exe beside the program) and other command
// lines as hidden child processes with a time limit, and owns the process-wide shutdown flag.

#include <cstdint>
#include <string>

namespace varn {

constexpr std::uint32_t kSoundToolLimitMs = 10000;
constexpr std::uint32_t kWaitSliceMs = 50;

// Remembers the tool's path beside the program file. Called once at start-up, before the
// worker exists; nothing is checked here, the file is looked for on every run.
void LocateSoundTool(const std::wstring& programPath);
std::wstring SoundToolPath();

// True only when the tool ran to its end with exit code 0 within 10000 ms.
bool RunSoundTool(const std::wstring& arguments);

// A run of the tool whose output is wanted (its self-check).
struct ToolReport {
  bool ran = false;        // started and ended within 10000 ms
  unsigned long exitCode = 0;
  std::string output;      // what it wrote on standard output and standard error, as bytes
  std::wstring failure;    // why it did not run, when !ran
};
ToolReport RunSoundToolForReport(const std::wstring& arguments);

// A new file name in the shared Windows folder's Temp, which an ordinary user cannot list:
// prefix, 128 random bits in hex, extension. Empty when the folder or the randomness fails.
std::wstring NewPrivateTempPath(const wchar_t* prefix, const wchar_t* extension);
// True only when the process ran to its end with exit code 0 within the limit.
bool RunCommandLine(const std::wstring& commandLine, std::uint32_t limitMs);
// The same for the program at a full path (empty: as RunCommandLine), so that no other file of
// its name found by the search for the command line's first word runs instead. The command line
// is handed to the program and logged as given.
bool RunProgram(const std::wstring& applicationPath, const std::wstring& commandLine,
                std::uint32_t limitMs);

// The text with one double quote added before and after it; nothing inside is escaped.
std::wstring QuoteArgument(const std::wstring& text);

// Once set, no child is started any more and a running one is killed at the next slice.
void SignalShutdown();
bool IsShutdownSignalled();

}  // namespace varn
