#include "settings/settings.h"

#include <windows.h>

#include <vector>

#include "settings/registry_key.h"

namespace varn {

namespace {

// The worker rewrites the resolved-id values while the window thread may be reading them, so
// a value can grow between measuring it and fetching it; the registry then refuses the short
// buffer (ERROR_MORE_DATA). The buffer grows past both the size now reported and twice its
// old size, so a writer switching between texts cannot win the race again and again; after
// a few rounds the read gives up and counts as absent.
constexpr int kStringReadAttempts = 8;

// A REG_SZ value as stored, cut to whole characters; empty for anything else.
std::wstring QueryString(HKEY key, const wchar_t* valueName) {
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key, valueName, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_SZ || bytes == 0) {
    return std::wstring();
  }
  // Another tool may have stored an odd number of bytes. The registry copies every byte it
  // reports, so the buffer is rounded up to whole characters, plus one spare.
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  for (int attempt = 0; attempt < kStringReadAttempts; ++attempt) {
    size_t capacity = buffer.size() * sizeof(wchar_t);
    if (capacity > MAXDWORD) return std::wstring();
    DWORD received = static_cast<DWORD>(capacity);
    LONG rc = RegQueryValueExW(key, valueName, nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer.data()), &received);
    if (rc == ERROR_MORE_DATA) {
      size_t needed = received / sizeof(wchar_t) + 1;
      buffer.assign(needed > buffer.size() * 2 ? needed : buffer.size() * 2, L'\0');
      continue;
    }
    // The type is checked again: the value may have been replaced by one of another type.
    if (rc != ERROR_SUCCESS || type != REG_SZ) return std::wstring();
    if (received > capacity) received = static_cast<DWORD>(capacity);
    return std::wstring(buffer.data(), received / sizeof(wchar_t));
  }
  return std::wstring();
}

void WriteDword(const wchar_t* valueName, std::uint32_t value) {
  RegistryKey key = CreateRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_WRITE);
  if (!key) return;
  DWORD data = value;
  RegSetValueExW(key.get(), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                 sizeof data);
}

}  // namespace

// Values written by other tools may lack the terminator or carry several; both read the same.
std::wstring ReadSettingString(const wchar_t* valueName) {
  RegistryKey key = OpenRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ);
  if (!key) return std::wstring();
  std::wstring text = QueryString(key.get(), valueName);
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

void WriteSettingString(const wchar_t* valueName, const std::wstring& text) {
  size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) return;
  RegistryKey key = CreateRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_WRITE);
  if (!key) return;
  RegSetValueExW(key.get(), valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(bytes));
}

// A REG_DWORD shorter than four bytes (possible when another tool wrote it) would leave part
// of the number undefined, so it counts as absent like any other malformed value.
DwordSetting ReadSettingDword(const wchar_t* valueName) {
  RegistryKey key = OpenRegistryKey(HKEY_CURRENT_USER, kSettingsKeyPath, KEY_READ);
  if (!key) return DwordSetting();
  DWORD type = 0;
  DWORD data = 0;
  DWORD bytes = sizeof data;
  LONG rc = RegQueryValueExW(key.get(), valueName, nullptr, &type,
                             reinterpret_cast<BYTE*>(&data), &bytes);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof data) return DwordSetting();
  return DwordSetting{true, data};
}

StartupSetting ReadStartupEnabled() {
  DwordSetting setting = ReadSettingDword(kStartupEnabledValue);
  return StartupSetting{setting.found, setting.found && setting.value != 0};
}

void WriteStartupEnabled(bool enabled) { WriteDword(kStartupEnabledValue, enabled ? 1 : 0); }

void WriteStartupConfigured() { WriteDword(kStartupConfiguredValue, 1); }

}  // namespace varn
