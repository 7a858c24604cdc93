#include "bench_common.h"

#include <shellapi.h>

#include <vector>

#include "settings/settings.h"
#include "settings/saved_choice.h"
#include "sim_files.h"
#include "world.h"

namespace bench {

namespace {

// The system handle table as NtQuerySystemInformation returns it (SystemExtendedHandleInformation).
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);

bool WriteSetting(HKEY key, const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

}  // namespace

std::uint64_t NowMs() { return audiosim::NowMs(); }

HWND FindWindowOfClass(const std::wstring& className) { return FindWindowW(className.c_str(), nullptr); }

DWORD ProcessOf(HWND window) {
  DWORD processId = 0;
  GetWindowThreadProcessId(window, &processId);
  return processId;
}

bool TrayIconShown(HWND window, UINT id) {
  NOTIFYICONDATAW probe{};
  probe.cbSize = sizeof(probe);
  probe.hWnd = window;
  probe.uID = id;
  return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

long long PingMs(HWND window, UINT limitMs) {
  std::uint64_t start = GetTickCount64();
  DWORD_PTR ignored = 0;
  if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, limitMs, &ignored) == 0) {
    return -1;
  }
  return static_cast<long long>(GetTickCount64() - start);
}

long long HandleCount(DWORD processId) {
  static auto query = reinterpret_cast<QuerySystemInformation>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<unsigned char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    LONG status = query(kSystemExtendedHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == kInfoLengthMismatch) {
      buffer.resize(needed > buffer.size() ? needed + 65536 : buffer.size() * 2);
      continue;
    }
    if (status < 0) return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long long count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
      if (table->entries[i].processId == processId) ++count;
    }
    return count;
  }
  return -1;
}

bool ChooseCardAndPhone() {
  audiosim::World world;
  if (!audiosim::LoadWorld(world)) return false;
  const audiosim::Endpoint* card = audiosim::FindEndpoint(world, L"card-in");
  const audiosim::Endpoint* phone = audiosim::FindEndpoint(world, L"phone-out");
  if (card == nullptr || phone == nullptr) return false;
  RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool ok = WriteSetting(key, varn::kCaptureIdValue, varn::kSavedDevicePrefix + card->id) &&
            WriteSetting(key, varn::kRenderIdValue, varn::kSavedDevicePrefix + phone->id) &&
            WriteSetting(key, varn::kCaptureNameValue, card->name) &&
            WriteSetting(key, varn::kRenderNameValue, phone->name) &&
            WriteSetting(key, varn::kLastCaptureResolvedValue, card->id) &&
            WriteSetting(key, varn::kLastRenderResolvedValue, phone->id);
  RegCloseKey(key);
  return ok;
}

std::string RouteProblem() {
  audiosim::World world;
  if (!audiosim::LoadWorld(world)) return "no world";
  const audiosim::Endpoint* card = audiosim::FindEndpoint(world, L"card-in");
  const audiosim::Endpoint* phone = audiosim::FindEndpoint(world, L"phone-out");
  const audiosim::Endpoint* bridgeIn = audiosim::FindEndpoint(world, L"bridge-in");
  const audiosim::Endpoint* bridgeOut = audiosim::FindEndpoint(world, L"bridge-out");
  if (card == nullptr || phone == nullptr || bridgeIn == nullptr || bridgeOut == nullptr) return "an endpoint is missing";
  std::string problem;
  if (!card->listen) problem += "card-in listen=0; ";
  if (card->listenTarget != bridgeOut->id) problem += "card-in target is not bridge-out; ";
  if (!bridgeIn->listen) problem += "bridge-in listen=0; ";
  if (bridgeIn->listenTarget != phone->id) problem += "bridge-in target is not phone-out; ";
  for (const audiosim::Endpoint& e : world.endpoints) {
    if (e.flow == audiosim::kCapture && e.listen && &e != card && &e != bridgeIn) {
      problem += Utf8(e.alias.empty() ? e.id : e.alias) + " listens too; ";
    }
  }
  return problem;
}

size_t CountLines(const std::wstring& path) {
  std::string text = audiosim::ReadFileBytes(path);
  size_t lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

std::string LineAt(const std::wstring& path, size_t index) {
  std::string text = audiosim::ReadFileBytes(path);
  size_t start = 0;
  for (size_t i = 0; i < index; ++i) {
    start = text.find('\n', start);
    if (start == std::string::npos) return std::string();
    ++start;
  }
  size_t end = text.find_first_of("\r\n", start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Utf8(const std::wstring& text) { return audiosim::ToUtf8(text); }

bool WriteTextFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(file);
  return ok;
}

bool AppendTextFile(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
  CloseHandle(file);
  return ok;
}

}  // namespace bench
