#pragma once
// The program's persistent settings: one per-user registry key with string and 32-bit values.
// Every operation opens the key, does its one read or write and closes it again, so the window
// thread and the worker can both use them without a lock. Failures are silent: a read that
// fails gives "absent", a write that fails is lost.

#include <cstdint>
#include <string>

namespace varn {

// Under HKEY_CURRENT_USER.
inline constexpr const wchar_t* kSettingsKeyPath = L"Software\\VARNListenFix";

// The saved choices: "DEFAULT" or "DEVICE:" + endpoint id.
inline constexpr const wchar_t* kCaptureIdValue = L"CaptureId";
inline constexpr const wchar_t* kRenderIdValue = L"RenderId";
// Friendly names of the endpoints those choices last resolved to.
inline constexpr const wchar_t* kCaptureNameValue = L"CaptureName";
inline constexpr const wchar_t* kRenderNameValue = L"RenderName";
// Endpoint ids used by the last save or successful connection.
inline constexpr const wchar_t* kLastCaptureResolvedValue = L"LastCaptureResolved";
inline constexpr const wchar_t* kLastRenderResolvedValue = L"LastRenderResolved";
inline constexpr const wchar_t* kLastBridgeCaptureResolvedValue = L"LastVarnCaptureResolved";
inline constexpr const wchar_t* kLastBridgeRenderResolvedValue = L"LastVarnRenderResolved";
// REG_DWORD values: the autostart preference, and a marker that is only ever written as 1.
inline constexpr const wchar_t* kStartupEnabledValue = L"StartupEnabled";
inline constexpr const wchar_t* kStartupConfiguredValue = L"StartupConfigured";

struct DwordSetting {
  bool found = false;
  std::uint32_t value = 0;
};

struct StartupSetting {
  bool found = false;
  bool enabled = false;
};

// The REG_SZ text without trailing null characters; empty when the key or value is missing,
// has another type or cannot be read.
std::wstring ReadSettingString(const wchar_t* valueName);
// Stored as REG_SZ with its terminating null character.
void WriteSettingString(const wchar_t* valueName, const std::wstring& text);

// Found only for a readable REG_DWORD of exactly four bytes.
DwordSetting ReadSettingDword(const wchar_t* valueName);

// "StartupEnabled": any nonzero value means enabled.
StartupSetting ReadStartupEnabled();
void WriteStartupEnabled(bool enabled);
// "StartupConfigured" = 1.
void WriteStartupConfigured();

}  // namespace varn
