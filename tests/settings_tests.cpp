// The settings on Wine's real registry: what is stored byte for byte, how data written by other
// tools reads back, values that change while they are read, and the registry key owner.
// Every test starts without the key and puts back whatever was there before.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "settings/registry_key.h"
#include "settings/settings.h"

namespace {

using Bytes = std::vector<BYTE>;

struct RawValue {
  LONG rc = ERROR_FILE_NOT_FOUND;
  DWORD type = REG_NONE;
  Bytes data;
};

Bytes WideBytes(const std::wstring& text) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(text.data());
  return Bytes(begin, begin + text.size() * sizeof(wchar_t));
}

Bytes DwordBytes(DWORD value) {
  const BYTE* begin = reinterpret_cast<const BYTE*>(&value);
  return Bytes(begin, begin + sizeof value);
}

bool KeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return false;
  RegCloseKey(key);
  return true;
}

// Written around the code under test, the way another tool (or an older version) would.
void WriteRaw(const wchar_t* name, DWORD type, const Bytes& data) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, name, 0, type, data.empty() ? nullptr : data.data(),
                           static_cast<DWORD>(data.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

RawValue ReadRaw(const wchar_t* name) {
  RawValue raw;
  HKEY key = nullptr;
  raw.rc = RegOpenKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, KEY_READ, &key);
  if (raw.rc != ERROR_SUCCESS) return raw;
  DWORD size = 0;
  raw.rc = RegQueryValueExW(key, name, nullptr, &raw.type, nullptr, &size);
  if (raw.rc == ERROR_SUCCESS) {
    raw.data.resize(size);
    raw.rc = RegQueryValueExW(key, name, nullptr, &raw.type, raw.data.data(), &size);
    raw.data.resize(size);
  }
  RegCloseKey(key);
  return raw;
}

// Keeps whatever the prefix holds under the key, starts every test without the key and puts
// the old values back afterwards, so tests neither see nor leave each other's values.
class SettingsKey : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY key = nullptr;
    existed_ = RegOpenKeyExW(HKEY_CURRENT_USER, varn::kSettingsKeyPath, 0, KEY_READ, &key) ==
               ERROR_SUCCESS;
    for (DWORD index = 0; existed_; ++index) {
      wchar_t name[16384];
      DWORD nameChars = 16384;
      if (RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr) !=
          ERROR_SUCCESS)
        break;
      saved_.push_back({std::wstring(name, nameChars), ReadRaw(name)});
    }
    if (existed_) RegCloseKey(key);
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    ASSERT_FALSE(KeyExists());
  }

  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    if (existed_) RegCloseKey(varn::CreateRegistryKey(HKEY_CURRENT_USER, varn::kSettingsKeyPath,
                                                      KEY_WRITE).release());
    for (const auto& [name, value] : saved_) WriteRaw(name.c_str(), value.type, value.data);
  }

 private:
  bool existed_ = false;
  std::vector<std::pair<std::wstring, RawValue>> saved_;
};

// Strings -------------------------------------------------------------------------------------

// The names are what earlier runs stored and what other tools read: pinned here, once, as the
// literal texts in the registry.
TEST_F(SettingsKey, ValuesLiveUnderTheirStoredNames) {
  const std::pair<const wchar_t*, const wchar_t*> texts[] = {
      {varn::kCaptureIdValue, L"CaptureId"},
      {varn::kRenderIdValue, L"RenderId"},
      {varn::kCaptureNameValue, L"CaptureName"},
      {varn::kRenderNameValue, L"RenderName"},
      {varn::kLastCaptureResolvedValue, L"LastCaptureResolved"},
      {varn::kLastRenderResolvedValue, L"LastRenderResolved"},
      {varn::kLastBridgeCaptureResolvedValue, L"LastVarnCaptureResolved"},
      {varn::kLastBridgeRenderResolvedValue, L"LastVarnRenderResolved"},
  };
  for (const auto& [constant, stored] : texts) {
    varn::WriteSettingString(constant, std::wstring(L"for ") + stored);
    wchar_t data[64] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VARNListenFix", stored, RRF_RT_REG_SZ, nullptr, data, &size),
              ERROR_SUCCESS) << stored;
    EXPECT_EQ(std::wstring(data), std::wstring(L"for ") + stored);
  }
  varn::WriteStartupEnabled(true);
  varn::WriteStartupConfigured();
  for (const wchar_t* stored : {L"StartupEnabled", L"StartupConfigured"}) {
    DWORD value = 0, size = sizeof(value);
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, L"Software\\VARNListenFix", stored, RRF_RT_REG_DWORD, nullptr, &value, &size),
              ERROR_SUCCESS) << stored;
    EXPECT_EQ(value, 1u);
  }
}

TEST_F(SettingsKey, MissingKeyReadsAsAbsentAndTheFirstWriteCreatesIt) {
  EXPECT_EQ(varn::ReadSettingString(varn::kCaptureIdValue), L"");
  EXPECT_FALSE(varn::ReadSettingDword(varn::kStartupEnabledValue).found);
  EXPECT_FALSE(varn::ReadStartupEnabled().found);
  EXPECT_FALSE(KeyExists()) << "reads never create the key";

  varn::WriteStartupEnabled(true);
  varn::WriteStartupConfigured();
  ASSERT_TRUE(KeyExists());
  varn::StartupSetting startup = varn::ReadStartupEnabled();
  EXPECT_TRUE(startup.found);
  EXPECT_TRUE(startup.enabled);
  RawValue configured = ReadRaw(varn::kStartupConfiguredValue);
  EXPECT_EQ(configured.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(configured.data, DwordBytes(1));

  // A volatile key would lose the settings at logoff, and a volatile parent refuses
  // non-volatile children: creating one proves the key is stored for good.
  HKEY child = nullptr;
  std::wstring childPath = std::wstring(varn::kSettingsKeyPath) + L"\\nonvolatile-probe";
  EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, childPath.c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &child, nullptr),
            ERROR_SUCCESS);
  if (child != nullptr) RegCloseKey(child);
}

TEST_F(SettingsKey, StringsAreStoredAsRegSzWithTheirTerminator) {
  const std::wstring device = L"DEVICE:{0.0.1.00000000}.{8d3c6f2a-51b0-4c7e-9a61-0c5a1e7d2b01}";
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kRenderIdValue, device);
  varn::WriteSettingString(varn::kCaptureNameValue, L"线路输入 (HD Audio)");
  varn::WriteSettingString(varn::kRenderNameValue, L"");

  RawValue captureId = ReadRaw(varn::kCaptureIdValue);
  ASSERT_EQ(captureId.rc, ERROR_SUCCESS);
  EXPECT_EQ(captureId.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(captureId.data.size(), 16u) << "seven characters and the terminator";
  EXPECT_EQ(captureId.data, WideBytes(std::wstring(L"DEFAULT", 8)));
  EXPECT_EQ(ReadRaw(varn::kRenderIdValue).data, WideBytes(device + L'\0'));
  EXPECT_EQ(ReadRaw(varn::kRenderNameValue).data, WideBytes(std::wstring(1, L'\0')));

  EXPECT_EQ(varn::ReadSettingString(varn::kCaptureIdValue), L"DEFAULT");
  EXPECT_EQ(varn::ReadSettingString(varn::kRenderIdValue), device);
  EXPECT_EQ(varn::ReadSettingString(varn::kCaptureNameValue), L"线路输入 (HD Audio)");
  EXPECT_EQ(varn::ReadSettingString(varn::kRenderNameValue), L"");
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), L"") << "never written";

  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  EXPECT_EQ(varn::ReadSettingString(varn::kRenderIdValue), L"DEFAULT")
      << "a shorter text replaces a longer one completely";

  std::wstring longText(100000, L'长');
  longText.back() = L'!';
  varn::WriteSettingString(varn::kLastBridgeRenderResolvedValue, longText);
  EXPECT_EQ(varn::ReadSettingString(varn::kLastBridgeRenderResolvedValue), longText);
}

struct RawStringCase {
  const char* what;
  DWORD type;
  Bytes data;
  std::wstring expected;
};

TEST_F(SettingsKey, StringDataFromOtherToolsReadsCleanOrAsAbsent) {
  Bytes abc = WideBytes(L"abc");
  Bytes oddTail = abc;
  oddTail.push_back('x');
  const std::vector<RawStringCase> cases = {
      {"no terminator", REG_SZ, abc, L"abc"},
      {"three terminators", REG_SZ, WideBytes(std::wstring(L"abc\0\0\0", 6)), L"abc"},
      {"odd byte count: half a character at the end", REG_SZ, oddTail, L"abc"},
      {"a single byte", REG_SZ, Bytes{'a'}, L""},
      {"no data at all", REG_SZ, Bytes(), L""},
      {"only terminators", REG_SZ, Bytes(6, 0), L""},
      {"inner null kept, trailing ones dropped", REG_SZ,
       WideBytes(std::wstring(L"a\0b\0", 4)), std::wstring(L"a\0b", 3)},
      {"expandable string", REG_EXPAND_SZ, WideBytes(std::wstring(L"abc\0", 4)), L""},
      {"multi-string", REG_MULTI_SZ, WideBytes(std::wstring(L"abc\0\0", 5)), L""},
      {"DWORD", REG_DWORD, DwordBytes(0x00620061), L""},
      {"binary that looks like text", REG_BINARY, WideBytes(std::wstring(L"abc\0", 4)), L""},
  };
  for (const RawStringCase& c : cases) {
    WriteRaw(varn::kCaptureIdValue, c.type, c.data);
    EXPECT_EQ(varn::ReadSettingString(varn::kCaptureIdValue), c.expected) << c.what;
  }
}

// The worker rewrites resolved ids while the window thread reads them. Whatever the
// interleaving, a read gives one of the two complete texts: never a cut one, never nothing
// because the value grew between measuring it and fetching it.
TEST_F(SettingsKey, ValueRewrittenWhileBeingReadGivesOneWholeText) {
  struct Shared {
    const std::wstring shortText = L"DEVICE:short";
    const std::wstring longText = L"DEVICE:" + std::wstring(3000, L'x') + L"!";
    volatile LONG stop = 0;
  } shared;
  varn::WriteSettingString(varn::kLastCaptureResolvedValue, shared.shortText);

  auto writer = [](void* param) -> DWORD {
    Shared& s = *static_cast<Shared*>(param);
    for (int i = 0; InterlockedCompareExchange(&s.stop, 0, 0) == 0; ++i)
      varn::WriteSettingString(varn::kLastCaptureResolvedValue, i % 2 ? s.longText : s.shortText);
    return 0;
  };
  HANDLE thread = CreateThread(nullptr, 0, writer, &shared, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  int shortSeen = 0, longSeen = 0, otherSeen = 0;
  for (int i = 0; i < 3000; ++i) {
    std::wstring text = varn::ReadSettingString(varn::kLastCaptureResolvedValue);
    if (text == shared.shortText) ++shortSeen;
    else if (text == shared.longText) ++longSeen;
    else ++otherSeen;
  }
  InterlockedExchange(&shared.stop, 1);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  EXPECT_EQ(otherSeen, 0);
  EXPECT_GT(shortSeen, 0);
  EXPECT_GT(longSeen, 0);
}

// 32-bit values ------------------------------------------------------------------------------

struct RawDwordCase {
  const char* what;
  DWORD type;
  Bytes data;
  bool found;
  std::uint32_t value;
  bool enabled;
};

TEST_F(SettingsKey, StartupEnabledReadsOnlyWholeDwords) {
  Bytes shortDword = {1, 0};
  const std::vector<RawDwordCase> cases = {
      {"1", REG_DWORD, DwordBytes(1), true, 1, true},
      {"2 is any nonzero value", REG_DWORD, DwordBytes(2), true, 2, true},
      {"0", REG_DWORD, DwordBytes(0), true, 0, false},
      {"text \"1\"", REG_SZ, WideBytes(std::wstring(L"1\0", 2)), false, 0, false},
      {"binary of four bytes", REG_BINARY, DwordBytes(1), false, 0, false},
      {"big-endian DWORD", REG_DWORD_BIG_ENDIAN, DwordBytes(0x01000000), false, 0, false},
      {"QWORD", REG_QWORD, Bytes{1, 0, 0, 0, 0, 0, 0, 0}, false, 0, false},
      {"DWORD of two bytes", REG_DWORD, shortDword, false, 0, false},
      {"DWORD of no bytes", REG_DWORD, Bytes(), false, 0, false},
  };
  for (const RawDwordCase& c : cases) {
    WriteRaw(varn::kStartupEnabledValue, c.type, c.data);
    varn::DwordSetting raw = varn::ReadSettingDword(varn::kStartupEnabledValue);
    EXPECT_EQ(raw.found, c.found) << c.what;
    if (c.found) {
      EXPECT_EQ(raw.value, c.value) << c.what;
    }
    varn::StartupSetting startup = varn::ReadStartupEnabled();
    EXPECT_EQ(startup.found, c.found) << c.what;
    EXPECT_EQ(startup.enabled, c.enabled) << c.what;
  }
}

TEST_F(SettingsKey, SwitchingAutostartOffWritesZeroAndTouchesNothingElse) {
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:{render}");
  WriteRaw(varn::kStartupEnabledValue, REG_SZ, WideBytes(std::wstring(L"1\0", 2)));

  varn::WriteStartupEnabled(false);
  varn::WriteStartupConfigured();

  RawValue enabled = ReadRaw(varn::kStartupEnabledValue);
  EXPECT_EQ(enabled.type, static_cast<DWORD>(REG_DWORD)) << "the text value is replaced";
  EXPECT_EQ(enabled.data, DwordBytes(0));
  RawValue configured = ReadRaw(varn::kStartupConfiguredValue);
  EXPECT_EQ(configured.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(configured.data, DwordBytes(1));
  varn::StartupSetting startup = varn::ReadStartupEnabled();
  EXPECT_TRUE(startup.found);
  EXPECT_FALSE(startup.enabled);
  EXPECT_EQ(varn::ReadSettingString(varn::kCaptureIdValue), L"DEFAULT");
  EXPECT_EQ(varn::ReadSettingString(varn::kRenderIdValue), L"DEVICE:{render}");

  varn::WriteStartupEnabled(true);
  EXPECT_EQ(ReadRaw(varn::kStartupEnabledValue).data, DwordBytes(1));
}

// The key owner -------------------------------------------------------------------------------

// A closed handle answers ERROR_INVALID_HANDLE; an open one describes its key.
bool HandleIsOpen(HKEY key) {
  return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

TEST_F(SettingsKey, RegistryKeyClosesExactlyOnceWhateverPathItTakes) {
  HKEY raw = nullptr;
  {
    varn::RegistryKey key = varn::OpenRegistryKey(HKEY_CURRENT_USER, L"Software", KEY_READ);
    ASSERT_TRUE(static_cast<bool>(key));
    raw = key.get();
    EXPECT_TRUE(HandleIsOpen(raw));
  }
  EXPECT_FALSE(HandleIsOpen(raw)) << "closed when the owner goes away";

  varn::RegistryKey first = varn::OpenRegistryKey(HKEY_CURRENT_USER, L"Software", KEY_READ);
  HKEY firstRaw = first.get();
  varn::RegistryKey moved(std::move(first));
  EXPECT_FALSE(static_cast<bool>(first));
  EXPECT_EQ(moved.get(), firstRaw);
  EXPECT_TRUE(HandleIsOpen(firstRaw)) << "a move does not close";

  varn::RegistryKey second = varn::CreateRegistryKey(HKEY_CURRENT_USER, varn::kSettingsKeyPath,
                                                     KEY_READ);
  ASSERT_TRUE(static_cast<bool>(second));
  HKEY secondRaw = second.get();
  moved = std::move(second);
  EXPECT_FALSE(HandleIsOpen(firstRaw)) << "assignment closes the key held before";
  EXPECT_EQ(moved.get(), secondRaw);
  EXPECT_TRUE(HandleIsOpen(secondRaw));
  moved = std::move(moved);
  EXPECT_TRUE(HandleIsOpen(secondRaw)) << "self-assignment keeps the key";

  HKEY released = moved.release();
  EXPECT_FALSE(static_cast<bool>(moved));
  moved.reset();
  EXPECT_TRUE(HandleIsOpen(released)) << "released handles belong to the caller";
  EXPECT_EQ(RegCloseKey(released), ERROR_SUCCESS);

  EXPECT_FALSE(varn::OpenRegistryKey(HKEY_CURRENT_USER, L"Software\\VARNListenFix\\missing", KEY_READ));
}

}  // namespace
