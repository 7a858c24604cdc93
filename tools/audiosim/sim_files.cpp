#include "sim_files.h"

#include <windows.h>

#include <cstdlib>
#include <sstream>

namespace audiosim {

std::wstring SimDirectory() {
  wchar_t buffer[MAX_PATH * 4];
  DWORD length = GetEnvironmentVariableW(kDirVariable, buffer, MAX_PATH * 4);
  if (length == 0 || length >= MAX_PATH * 4) return std::wstring();
  return std::wstring(buffer, length);
}

std::wstring SimFile(const wchar_t* name) {
  std::wstring directory = SimDirectory();
  if (directory.empty()) return std::wstring();
  if (directory.back() != L'\\' && directory.back() != L'/') directory += L'\\';
  return directory + name;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  }
  return out;
}

std::string ReadFileBytes(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string bytes;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(file);
  return bytes;
}

bool AppendFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

Misbehaviour ParseMisbehaviour(const std::string& rules, const std::wstring& command, int run) {
  Misbehaviour result;
  std::string wanted = ToUtf8(command);
  std::istringstream lines(rules);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string target;
    if (!(words >> target) || target[0] == '#') continue;
    if (target != "*" && _stricmp(target.c_str(), wanted.c_str()) != 0) continue;
    std::vector<std::string> settings;
    std::string setting;
    int from = 1, to = 0x7fffffff;
    while (words >> setting) {
      if (setting.rfind("from=", 0) == 0) from = atoi(setting.c_str() + 5);
      else if (setting.rfind("to=", 0) == 0) to = atoi(setting.c_str() + 3);
      else settings.push_back(setting);
    }
    if (run < from || run > to) continue;
    for (const std::string& setting : settings) {
      if (setting == "hang") {
        result.hang = true;
      } else if (setting == "noeffect") {
        result.noEffect = true;
      } else if (setting.rfind("enable-delay=", 0) == 0) {
        result.enableDelayMs = static_cast<std::uint32_t>(strtoul(setting.c_str() + 13, nullptr, 10));
      } else if (setting.rfind("delay=", 0) == 0) {
        result.delayMs = static_cast<std::uint32_t>(strtoul(setting.c_str() + 6, nullptr, 10));
      } else if (setting.rfind("exit=", 0) == 0) {
        result.forceExit = true;
        result.exitCode = static_cast<std::uint32_t>(strtoul(setting.c_str() + 5, nullptr, 10));
      }
    }
  }
  return result;
}

Misbehaviour MisbehaviourFor(const std::wstring& command) {
  std::wstring path = SimFile(kFaultsName);
  if (path.empty()) return Misbehaviour();
  return ParseMisbehaviour(ReadFileBytes(path), command, CountJournalRuns(command));
}

int CountJournalRuns(const std::wstring& command) {
  std::string wanted = ToUtf8(command);
  wanted.insert(wanted.begin(), '/');
  std::istringstream lines(ReadFileBytes(SimFile(kJournalName)));
  std::string line;
  int runs = 0;
  while (std::getline(lines, line)) {
    std::string first = line.substr(0, line.find_first_of(" \t\r"));
    if (!wanted.empty() && _stricmp(first.c_str(), wanted.c_str()) == 0) ++runs;
  }
  return runs;
}

}  // namespace audiosim
