// The device lists as real list controls on a window of the test's own, over the simulated
// world: what a pick saves (and that it never touches the route ledger), the muted-input
// notice, and a refill after the endpoints changed.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/endpoints.h"
#include "controller/controller.h"
#include "controller/flag_events.h"
#include "controller/startup.h"
#include "settings/settings.h"
#include "support/sim_fixture.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"
#include "world.h"

using namespace testing_support;

namespace {

constexpr wchar_t kMicName[] = L"麦克风 (USB Mic)";

struct Balloon {
  std::wstring title;
  std::wstring text;
  varn::NoticeIcon icon;
};
std::vector<Balloon> balloons;
void RecordBalloon(const std::wstring& title, const std::wstring& text, varn::NoticeIcon icon) {
  balloons.push_back({title, text, icon});
}

audiosim::Endpoint MakeCaptureEndpoint(const wchar_t* id, const wchar_t* alias, const wchar_t* name) {
  audiosim::Endpoint e;
  e.id = id;
  e.flow = audiosim::kCapture;
  e.alias = alias;
  e.device = alias;
  e.name = name;
  return e;
}

// The flags of a window just made with the bridge listed.
void ResetWindowFlags() { varn::NoteWindowCreated(true, true); }

class DeviceListsOnWindow : public SimulatedWorldTest {
 protected:
  void SetUp() override {
    SimulatedWorldTest::SetUp();
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    ASSERT_NO_FATAL_FAILURE(ResetWorld());
    host = CreateWindowExW(0, L"STATIC", L"lists", WS_OVERLAPPEDWINDOW, 0, 0, 480, 320, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(host, nullptr);
    for (int id : {varn::kCaptureComboId, varn::kRenderComboId}) {
      ASSERT_NE(CreateWindowExW(0, L"COMBOBOX", L"", WS_CHILD | WS_VSCROLL | CBS_DROPDOWNLIST, 0, 0, 300, 200,
                                host, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                GetModuleHandleW(nullptr), nullptr),
                nullptr);
    }
    ASSERT_NE(CreateWindowExW(0, L"STATIC", L"", WS_CHILD, 0, 0, 300, 40, host,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(varn::kStatusLabelId)),
                              GetModuleHandleW(nullptr), nullptr),
              nullptr);
    ASSERT_NE(CreateWindowExW(0, L"BUTTON", L"立即连接", WS_CHILD | WS_DISABLED, 0, 0, 100, 30, host,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(varn::kConnectButtonId)),
                              GetModuleHandleW(nullptr), nullptr),
              nullptr);
    varn::windowState.mainWindow = host;
    ResetWindowFlags();
    varn::SetBalloonSink(RecordBalloon);
    balloons.clear();
    varn::RefreshDeviceLists();
  }

  void TearDown() override {
    varn::windowState.mainWindow = nullptr;
    if (host != nullptr) DestroyWindow(host);
    varn::captureList.clear();
    varn::renderList.clear();
    varn::SetBalloonSink(nullptr);
    ResetWindowFlags();
    RegDeleteTreeW(HKEY_CURRENT_USER, varn::kSettingsKeyPath);
    SimulatedWorldTest::TearDown();
  }

  // The default world and a second sound card input after the bridge's: the capture list's
  // items are then 默认设备, 线路输入 (card-in), 麦克风 (mic-in).
  void ResetWorld() {
    ASSERT_EQ(Audiosim(L"init"), 0);
    ASSERT_TRUE(audiosim::UpdateWorld([](audiosim::World& w) {
      w.endpoints.push_back(MakeCaptureEndpoint(L"{0.0.1.00000000}.{mic-in}", L"mic-in", kMicName));
      return true;
    }));
  }

  HWND Combo(int id) const { return GetDlgItem(host, id); }
  void Select(int id, int item) const { SendMessageW(Combo(id), CB_SETCURSEL, static_cast<WPARAM>(item), 0); }

  std::vector<std::string> Items(int id) const {
    std::vector<std::string> items;
    LRESULT count = SendMessageW(Combo(id), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      std::wstring text(static_cast<size_t>(SendMessageW(Combo(id), CB_GETLBTEXTLEN, i, 0)), L'\0');
      SendMessageW(Combo(id), CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      items.push_back(Utf8(text));
    }
    return items;
  }

  std::wstring Name(const wchar_t* alias) const {
    audiosim::World world;
    if (!audiosim::LoadWorld(world)) return L"";
    const audiosim::Endpoint* e = audiosim::FindEndpoint(world, alias);
    return e != nullptr ? e->name : L"";
  }

  HWND host = nullptr;
};

std::string Setting(const wchar_t* valueName) { return Utf8(varn::ReadSettingString(valueName)); }

// Before every pick the ledger holds the routes that run: card-in to the bridge, and a phone
// output known by an id of its own; the watchdog has reported a lost channel and a recovery
// has failed, so Connect is off.
TEST_F(DeviceListsOnWindow, PickSavesTheChoiceButNeverTheRoutedEndpoints) {
  struct Row {
    const char* what;
    const wchar_t* beforeFill;  // audiosim command before the lists are filled, or nullptr
    const wchar_t* afterFill;   // audiosim command between filling and the pick, or nullptr
    int captureItem;
    const wchar_t* savedCapture;  // the alias the capture choice names, or nullptr: kept
    bool savedAsDefault;
    bool announced;  // status text, flags cleared, Connect enabled
  };
  const Row rows[] = {
      {"pick of another input", nullptr, nullptr, 2, L"mic-in", false, true},
      {"the picked input vanished meanwhile", nullptr, L"disable mic-in", 2, nullptr, false, false},
      {"no bridge in the lists", L"unplug bridge", nullptr, 2, L"mic-in", false, false},
      {"the default item, default changed since the fill", nullptr, L"default mic-in", 0, L"mic-in", true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_NO_FATAL_FAILURE(ResetWorld());
    const std::wstring cardIn = Id(L"card-in");
    const std::wstring phoneOut = Id(L"phone-out");
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + cardIn);
    varn::WriteSettingString(varn::kCaptureNameValue, Name(L"card-in"));
    varn::WriteSettingString(varn::kLastCaptureResolvedValue, cardIn);
    varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:{old phone}");
    varn::WriteSettingString(varn::kRenderNameValue, L"旧手机");
    varn::WriteSettingString(varn::kLastRenderResolvedValue, L"{old phone}");
    if (row.beforeFill != nullptr) {
      ASSERT_EQ(Audiosim(row.beforeFill), 0);
    }
    Select(varn::kCaptureComboId, -1);
    Select(varn::kRenderComboId, -1);
    varn::RefreshDeviceLists();
    if (row.afterFill != nullptr) {
      ASSERT_EQ(Audiosim(row.afterFill), 0);
    }
    ResetWindowFlags();
    varn::NoteDeviceFinding(varn::DeviceFinding::ChannelLost);
    varn::WorkerOutcome failedRecovery;
    failedRecovery.op = varn::OperationTag(varn::OperationKind::InputRecoveryReconnect);
    varn::NoteTaskOutcome(failedRecovery, true);
    EnableWindow(GetDlgItem(host, varn::kConnectButtonId), FALSE);
    varn::SetStatusText(L"旧状态");

    Select(varn::kCaptureComboId, row.captureItem);
    Select(varn::kRenderComboId, 1);
    varn::OnDeviceSelectionChanged();

    const wchar_t* captureAlias = row.savedCapture != nullptr ? row.savedCapture : L"card-in";
    EXPECT_EQ(Setting(varn::kCaptureIdValue),
              row.savedAsDefault ? std::string("DEFAULT") : "DEVICE:" + Utf8(Id(captureAlias)));
    EXPECT_EQ(Setting(varn::kCaptureNameValue), Utf8(Name(captureAlias)));
    EXPECT_EQ(Setting(varn::kLastCaptureResolvedValue), Utf8(cardIn)) << "the ledger is the routes'";
    EXPECT_EQ(Setting(varn::kRenderIdValue), "DEVICE:" + Utf8(phoneOut));
    EXPECT_EQ(Setting(varn::kRenderNameValue), Utf8(Name(L"phone-out")));
    EXPECT_EQ(Setting(varn::kLastRenderResolvedValue), "{old phone}");
    // Stopping input listening goes to the input the routes were built on.
    EXPECT_EQ(Utf8(varn::StopListenIdentity().id), Utf8(cardIn));

    EXPECT_EQ(Utf8(varn::CurrentStatusText()), row.announced ? "设备通道已更新，可以立即连接" : "旧状态");
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(host, varn::kConnectButtonId)) != FALSE, row.announced);
    EXPECT_EQ(varn::Flags().channelUnavailable, !row.announced);
    EXPECT_EQ(varn::Flags().unavailableHandled, !row.announced);
    EXPECT_EQ(varn::Flags().connectEnabled, row.announced);

    // A connect now takes the pick, whatever the last resolved id says.
    varn::ConnectRequest request;
    EXPECT_EQ(varn::BuildConnectRequestFromSelection(request), row.beforeFill == nullptr);
    if (row.beforeFill == nullptr) {
      EXPECT_EQ(Utf8(request.capture.id), Utf8(Id(L"mic-in")));
      EXPECT_EQ(request.captureFollowsDefault, row.captureItem == 0);
      EXPECT_EQ(Utf8(request.bridgeRender.id), Utf8(Id(L"bridge-out")));
      EXPECT_EQ(Utf8(request.bridgeCapture.id), Utf8(Id(L"bridge-in")));
    }
  }
}

TEST_F(DeviceListsOnWindow, MutedInputNoticedOncePerMuteEpisode) {
  Select(varn::kCaptureComboId, 1);  // card-in
  struct Step {
    const wchar_t* change;  // audiosim command, or nullptr for another check of the same state
    size_t balloons;
  };
  const Step steps[] = {
      {nullptr, 0},
      {L"mute card-in", 1},
      {nullptr, 1},
      {L"unplug card", 1},  // the mute cannot be read: neither a notice nor the episode's end
      {L"plug card", 1},
      {L"unmute card-in", 1},
      {nullptr, 1},
      {L"mute card-in", 2},
      {L"mute mic-in", 2},  // not the picked input
  };
  for (const Step& step : steps) {
    if (step.change != nullptr) {
      ASSERT_EQ(Audiosim(step.change), 0);
    }
    varn::CheckInputMute();
    EXPECT_EQ(balloons.size(), step.balloons) << Utf8(step.change != nullptr ? step.change : L"(again)");
  }
  ASSERT_FALSE(balloons.empty());
  EXPECT_EQ(Utf8(balloons[0].title), "声卡输入已静音");
  EXPECT_EQ(Utf8(balloons[0].text), "检测到当前声卡输入通道已静音，请在系统声音设置中手动解除静音。");
  EXPECT_EQ(balloons[0].icon, varn::NoticeIcon::Warning);
}

TEST_F(DeviceListsOnWindow, RefillKeepsThePickNotTheStoredChoice) {
  varn::WriteSettingString(varn::kCaptureIdValue, L"DEFAULT");
  Select(varn::kCaptureComboId, 2);  // 麦克风, picked but not yet handled
  ASSERT_TRUE(audiosim::UpdateWorld([](audiosim::World& w) {
    w.endpoints.insert(w.endpoints.begin(),
                       MakeCaptureEndpoint(L"{0.0.1.00000000}.{headset-in}", L"headset-in", L"耳机麦克风"));
    return true;
  }));

  varn::RefreshDeviceLists();

  EXPECT_EQ(Items(varn::kCaptureComboId),
            (std::vector<std::string>{"默认设备", "耳机麦克风", Utf8(Name(L"card-in")), Utf8(kMicName)}));
  EXPECT_EQ(varn::SelectedDeviceItem(varn::kCaptureComboId), 3);
  EXPECT_EQ(Items(varn::kRenderComboId), (std::vector<std::string>{"默认设备", Utf8(Name(L"phone-out"))}));
  EXPECT_EQ(varn::SelectedDeviceItem(varn::kRenderComboId), 0);  // nothing stored: the default item
  EXPECT_EQ(Setting(varn::kCaptureIdValue), "DEFAULT");
  EXPECT_EQ(Setting(varn::kRenderIdValue), "");
}

}  // namespace
