// The environment snapshot on the simulated world, and what the export reads of a log file.

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "diagnostics/export.h"
#include "diagnostics/snapshot.h"
#include "diagnostics/version.h"
#include "log/log.h"
#include "settings/settings.h"
#include "support/patterns.h"
#include "support/sim_fixture.h"

using namespace testing_support;

namespace {

using Lines = std::vector<std::wstring>;

class Snapshot : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
  }
  void TearDown() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    SimulatedWorldTest::TearDown();
  }
};

// Every line kind in its order, on the default world with the bridge made the render default.
// The moment, the user and the task's answer are checked for their shape only.
TEST_F(Snapshot, ListsEveryFactInOrderWithTheEndpointMarks) {
  const std::wstring card = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  const std::wstring phone = Id(L"phone-out"), bridgeOut = Id(L"bridge-out");
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + card);
  varn::WriteSettingString(varn::kRenderIdValue, L"DEFAULT");
  varn::WriteSettingString(varn::kCaptureNameValue, L"Card\r\nforged");
  varn::WriteStartupEnabled(true);
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  varn::SnapshotInput input;
  input.statusText = L"● 正在侦听";
  input.flags.listeningActive = true;
  input.flags.bridgePresent = true;
  input.flags.startupMode = true;
  input.captureIndex = 1;
  input.renderIndex = 0;
  input.captureResolvedId = card;
  input.renderResolvedId = bridgeOut;

  std::wstring text;
  for (const std::wstring& line : varn::BuildSnapshot(input, L"C:\\VARN\\VARNListenFix.exe")) text += line + L"\n";
  text = ReplaceAll(text, LR"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\n)", L"T\n");
  text = ReplaceAll(text, L"当前用户: [^(\n][^\n]*\n", L"当前用户: U\n");
  text = ReplaceAll(text, L"」存在: (是|否)\n", L"」存在: ?\n");
  const Lines expected = {
      L"VARN USB Audio 桥接器 —— 诊断环境快照", L"生成时间: T", L"程序版本: 7.3 (7.3.0.0)",
      L"程序路径: C:\\VARN\\VARNListenFix.exe", L"启动方式: 开机自启（--startup，静默隐藏）",
      L"系统版本: " + varn::OsVersionText(), L"当前用户: U",
      L"[运行状态]", L"正在侦听: 是", L"桥接器两端点在线: 是", L"正在等待声卡通道: 否", L"允许点立即连接: 是",
      L"启动准备工作完成: 否", L"状态栏文案: ● 正在侦听",
      L"[开机自启]", L"注册表偏好 StartupEnabled: 1（开）", L"计划任务「VARN Audio Bridge Startup」存在: ?",
      L"[注册表设置]", L"CaptureId = DEVICE:" + card, L"CaptureName = Card ｜ forged", L"RenderId = DEFAULT",
      L"RenderName = (空)", L"LastCaptureResolved = (空)", L"LastRenderResolved = (空)",
      L"LastVarnCaptureResolved = (空)", L"LastVarnRenderResolved = (空)",
      L"[当前选择的通道]", L"录制下拉框索引: 1（0 = 跟随默认设备）", L"录制解析结果: " + card,
      L"播放下拉框索引: 0（0 = 跟随默认设备）", L"播放解析结果: " + bridgeOut,
      L"[系统默认设备]", L"录制默认: " + card, L"播放默认: " + bridgeOut,
      L"[录制端点（活动）]", L"  默认设备[" + card + L"]  ← 系统默认",
      L"  线路输入 (High Definition Audio Device)[" + card + L"]  ← 系统默认",
      L"  麦克风 (USB Audio VARN)[" + bridgeIn + L"]  ← 桥接器端点",
      L"[播放端点（活动）]", L"  默认设备[" + bridgeOut + L"]  ← 系统默认", L"  扬声器 (Phone Audio Adapter)[" + phone + L"]",
      L"  扬声器 (USB Audio VARN)[" + bridgeOut + L"]  ← 系统默认  ← 桥接器端点",
      L"[被禁用的桥接器端点]", L"  播放: (无)", L"  录制: (无)",
      L"[目标通道在线情况]", L"  录制 " + card + L" 在线: 是", L"  录制目标处于禁用列表: 否",
      L"  播放 " + bridgeOut + L" 在线: 是", L"  播放目标处于禁用列表: 否"};
  std::wstring wanted;
  for (const std::wstring& line : expected) wanted += line + L"\n";
  EXPECT_EQ(text, wanted);
}

// The fallbacks: nothing picked, stored or shown, the capture flow without an active endpoint
// (its default entry a placeholder) and with its bridge endpoint disabled, and no Core Audio.
TEST_F(Snapshot, FallsBackToMarksWhereASourceHasNothing) {
  const std::wstring card = Id(L"card-in"), bridgeIn = Id(L"bridge-in");
  ASSERT_EQ(Audiosim(L"disable card-in"), 0);
  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  varn::SnapshotInput none, disabledPick;
  disabledPick.captureIndex = 1;
  disabledPick.captureResolvedId = card;
  struct Case {
    const varn::SnapshotInput& input;
    bool withoutCoreAudio;
    Lines wanted;  // in this order, other lines between
  } cases[] = {
      {none, false, {L"状态栏文案: (空)", L"注册表偏好 StartupEnabled: (未设置)", L"CaptureId = (空)",
                     L"录制下拉框索引: -1（0 = 跟随默认设备）", L"录制解析结果: (空)", L"播放解析结果: (空)", L"录制默认: ",
                     L"[录制端点（活动）]", L"  默认设备  ← 占位项（跟随默认）", L"[播放端点（活动）]", L"  播放: (无)",
                     L"  录制: " + bridgeIn, L"  录制  在线: 否", L"  录制目标处于禁用列表: 否", L"  播放  在线: 否"}},
      {disabledPick, false, {L"录制解析结果: " + card, L"  录制 " + card + L" 在线: 否", L"  录制目标处于禁用列表: 是"}},
      {none, true, {L"录制默认: ", L"播放默认: ", L"[录制端点（活动）]", L"  (空)", L"[播放端点（活动）]", L"  (空)",
                    L"  播放: (无)", L"  录制: (无)"}},
  };
  for (const Case& c : cases) {
    if (c.withoutCoreAudio) CoUninitialize();  // this thread held the process's only apartment
    const Lines lines = varn::BuildSnapshot(c.input, L"C:\\VARNListenFix.exe");
    if (c.withoutCoreAudio) CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    size_t at = 0;
    for (const std::wstring& want : c.wanted) {
      while (at < lines.size() && lines[at] != want) ++at;
      EXPECT_LT(at, lines.size()) << "missing or out of order: " << Utf8(want);
    }
    for (const std::wstring& line : lines) EXPECT_FALSE(line.empty());
  }
}

// What a log generation must be before the elevated export copies it to the desktop.
TEST(ExportRead, ReadsOnlyPlainSingleNamedFilesAtMostTheLimitEvenWhileBeingMoved) {
  TempDir dir;
  ASSERT_TRUE(WriteBytes(dir / L"plain.log", "\xEF\xBB\xBFline\r\n"));
  ASSERT_TRUE(WriteBytes(dir / L"linked.log", "secret\r\n"));
  ASSERT_TRUE(CreateHardLinkW((dir / L"second-name.log").c_str(), (dir / L"linked.log").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(dir / L"big.log", std::string(varn::kExportReadLimitBytes + 4096, 'x')));
  // A rotation moving a generation away holds it open for deletion meanwhile.
  ASSERT_TRUE(WriteBytes(dir / L"moving.log", "moving\r\n"));
  HANDLE moving = CreateFileW((dir / L"moving.log").c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(moving, INVALID_HANDLE_VALUE);
  const struct {
    const wchar_t* name;
    bool ok;
    size_t size;
  } cases[] = {{L"plain.log", true, 9}, {L"linked.log", false, 0}, {L"second-name.log", false, 0},
               {L"big.log", true, varn::kExportReadLimitBytes}, {L"moving.log", true, 8}};
  for (const auto& c : cases) {
    std::string bytes = "stale";
    EXPECT_EQ(varn::ReadFileBytes(dir / c.name, bytes), c.ok) << Utf8(c.name);
    EXPECT_EQ(bytes.size(), c.size) << Utf8(c.name);
  }
  CloseHandle(moving);
}

// The export opens every generation before it reads the first, in one go under the log's lock,
// so that a rotation cannot shift the names between two reads. The log writes on meanwhile:
// under Wine (as on Windows 7) a held generation keeps the rotation from moving the names, on
// later Windows the names move under the handles; either way each section holds the file that
// had its name when it was opened, all six are there, and the rotation is done once they are let go.
TEST(ExportRead, HeldGenerationsKeepTheirNamesAndContentWhileTheLogWritesOn) {
  TempDir dir;
  varn::OpenLog(dir / L"VARNListenFix.exe");
  const std::wstring current = varn::LogFilePath();
  ASSERT_TRUE(WriteBytes(current, "GEN-0\r\n" + std::string(4 * 1024 * 1024, 'x') + "\r\n"));
  for (int n = 1; n <= 5; ++n) ASSERT_TRUE(WriteBytes(current + L"." + std::to_wstring(n), "GEN-" + std::to_string(n) + "\r\n"));

  std::vector<varn::HeldLogFile> held = varn::OpenLogFilesForReading();
  ASSERT_EQ(held.size(), 6u);
  for (int line = 0; line < 40; ++line) varn::LogInfo(L"app", L"while the export holds the files");
  int merged = 0;
  const std::string text = varn::MergeLogFiles(held, &merged);
  EXPECT_EQ(merged, 6);
  size_t at = 0;
  for (int n = 5; n >= 0; --n) {
    const std::string name = n == 0 ? "VARNListenFix.log" : "VARNListenFix.log." + std::to_string(n);
    const std::string section = "==================== " + name + " ====================\r\nGEN-" + std::to_string(n);
    const size_t found = text.find(section, at);
    EXPECT_NE(found, std::string::npos) << name;
    if (found != std::string::npos) at = found;
  }
  held.clear();
  for (int line = 0; line < 40; ++line) varn::LogInfo(L"app", L"after the export");
  EXPECT_EQ(ReadBytes(current + L".1").rfind("GEN-0", 0), 0u) << "the log rotated once the files were let go";
  EXPECT_LT(ReadBytes(current).size(), 1024u * 1024u);
}

}  // namespace
