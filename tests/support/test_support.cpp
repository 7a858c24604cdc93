#include "support/test_support.h"

#include <cstdio>
#include <vector>

#include <tlhelp32.h>

#include "sim_files.h"

namespace testing_support {

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  static LONG counter = 0;
  for (;;) {
    std::wstring candidate = std::wstring(base) + L"varn-test-" +
                             std::to_wstring(GetCurrentProcessId()) + L"-" +
                             std::to_wstring(InterlockedIncrement(&counter));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      path_ = candidate;
      return;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) return;
  }
}

TempDir::~TempDir() {
  if (!path_.empty()) RemoveTree(path_);
}

EnvScope::EnvScope(const wchar_t* name, const wchar_t* value) : name_(name) {
  DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size > 0) {
    std::wstring buffer(size, L'\0');
    DWORD got = GetEnvironmentVariableW(name, buffer.data(), size);
    buffer.resize(got);
    old_ = buffer;
    hadOld_ = true;
  }
  SetEnvironmentVariableW(name, value);
}

EnvScope::~EnvScope() { SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr); }

std::string ReadBytes(const std::wstring& path) { return audiosim::ReadFileBytes(path); }

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() ||
            WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == bytes.size();
}

std::vector<std::string> SplitCrLfLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

unsigned long long FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void RemoveTree(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path.c_str());
    return;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = found.cFileName;
      if (name != L"." && name != L"..") RemoveTree(path + L"\\" + name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(path.c_str());
}

std::wstring ThisExeDirectory() {
  wchar_t buffer[32768];
  DWORD length = GetModuleFileNameW(nullptr, buffer, 32768);
  std::wstring path(buffer, length);
  return path.substr(0, path.find_last_of(L"\\/"));
}

std::wstring SimProgram(const wchar_t* fileName) {
  std::wstring tests = ThisExeDirectory();
  return tests.substr(0, tests.find_last_of(L"\\/")) + L"\\sim\\" + fileName;
}

std::wstring SoundToolToInstall() {
  wchar_t path[MAX_PATH * 2];
  DWORD length = GetEnvironmentVariableW(L"VARN_SOUND_TOOL", path, MAX_PATH * 2);
  if (length > 0 && length < MAX_PATH * 2) return std::wstring(path, length);
  return SimProgram(L"SoundVolumeView.exe");
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
  ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
}

int CountProcesses(const std::wstring& directory, const std::wstring& fileName) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  std::wstring wanted = directory + L"\\" + fileName;
  int count = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (_wcsicmp(entry.szExeFile, fileName.c_str()) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;
    wchar_t image[MAX_PATH * 2];
    DWORD size = MAX_PATH * 2;
    if (QueryFullProcessImageNameW(process, 0, image, &size) && _wcsicmp(image, wanted.c_str()) == 0) {
      DWORD code = 0;
      if (GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) ++count;
    }
    CloseHandle(process);
  }
  CloseHandle(snapshot);
  return count;
}

namespace {
// The system handle table (SystemHandleInformation, class 16) as ntdll returns it.
struct HandleEntry {
  USHORT processId;
  USHORT creatorBackTraceIndex;
  UCHAR objectType;
  UCHAR attributes;
  USHORT value;
  void* object;
  ULONG access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
}  // namespace

int CountOwnHandles() {
  auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
      int count = 0;
      USHORT self = static_cast<USHORT>(GetCurrentProcessId());
      for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].processId == self ? 1 : 0;
      return count;
    }
    buffer.resize(buffer.size() * 2);
  }
  return -1;
}

std::string Utf8(const std::wstring& text) { return audiosim::ToUtf8(text); }

std::string Quoted(const std::wstring& text) {
  std::string quoted = Utf8(text);
  quoted.insert(quoted.begin(), '"');
  quoted.push_back('"');
  return quoted;
}

}  // namespace testing_support

namespace testing_support {

BOOL StartTestProcess(const wchar_t* application, std::wstring commandLine, BOOL inheritHandles, DWORD flags,
                      const wchar_t* directory, STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
  for (int attempt = 1;; ++attempt) {
    std::vector<wchar_t> writable(commandLine.begin(), commandLine.end());
    writable.push_back(L'\0');
    if (CreateProcessW(application, writable.data(), nullptr, nullptr, inheritHandles, flags, nullptr, directory,
                       &startup, &process)) {
      return TRUE;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INTERNAL_ERROR || attempt == 3) {
      SetLastError(error);
      return FALSE;
    }
    std::fprintf(stderr, "StartTestProcess: start %d of %ls refused with ERROR_INTERNAL_ERROR, trying again\n", attempt,
                 commandLine.c_str());
    Sleep(200);
  }
}

int RunProgram(const std::wstring& exe, const std::wstring& arguments, DWORD limitMs,
               std::string* output) {
  TempDir scratch;
  std::wstring outPath = scratch / L"output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "RunProgram: no output file (error %lu)\n", GetLastError());
    return -1;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = out;
  startup.hStdError = out;
  std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
  PROCESS_INFORMATION process{};
  // Detached: the output goes to the file, and a console program given no console at all
  // starts without a console host process beside it (under Wine a second process per run).
  BOOL started = StartTestProcess(nullptr, commandLine, TRUE, DETACHED_PROCESS, nullptr, startup, process);
  const DWORD startError = started ? 0 : GetLastError();
  CloseHandle(out);
  if (!started) {
    std::fprintf(stderr, "RunProgram: %ls did not start (error %lu)\n", exe.c_str(), startError);
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 2000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (output != nullptr) *output = ReadBytes(outPath);
  return static_cast<int>(code);
}

int Audiosim(const std::wstring& arguments, std::string* output) {
  return RunProgram(SimProgram(L"audiosim.exe"), arguments, 30000, output);
}

}  // namespace testing_support
