// No stray route, on the real program and the simulated world: on every path that builds the
// routes, another input was routed before, and afterwards exactly the chosen input listens into
// the bridge playback and the bridge capture into the phone output; a cancel then leaves
// nothing listening. The world's listen flags are the judge, not the journal.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/app.h"
#include "ui/window_state.h"
#include "settings/settings.h"
#include "support/program.h"
#include "support/program_scenario.h"
#include "world.h"

using namespace testing_support;

namespace {

constexpr int kCaptureCombo = varn::kCaptureComboId;
constexpr int kCancelButton = varn::kCancelButtonId;
constexpr int kTrayConnect = varn::kCmdTrayConnect;
constexpr int kCardItem = 1, kMicItem = 2;  // 默认设备, 线路输入 (card-in), 麦克风 (mic-in)
constexpr wchar_t kMicName[] = L"麦克风 (USB Mic)";
constexpr DWORD kTaskMs = 20000;

std::string Shown(const std::vector<std::string>& routes) {
  std::string text;
  for (const std::string& route : routes) text += "[" + route + "] ";
  return text.empty() ? "(none)" : text;
}

class RouteTruth;

struct RouteCase {
  const char* name;
  void (RouteTruth::*act)();  // from a fresh world to the end of the task that builds the routes
  const wchar_t* input;       // the input the routes must run on afterwards
};

class RouteTruth : public ProgramScenario, public ::testing::WithParamInterface<RouteCase> {
 protected:
  void SetUp() override {
    ProgramScenario::SetUp();
    // A second sound card input, listed after the bridge's.
    ASSERT_TRUE(audiosim::UpdateWorld([](audiosim::World& w) {
      audiosim::Endpoint mic;
      mic.id = L"{0.0.1.00000000}.{mic-in}";
      mic.flow = audiosim::kCapture;
      mic.alias = mic.device = L"mic-in";
      mic.name = kMicName;
      w.endpoints.push_back(mic);
      return true;
    }));
  }

  void Choose(const wchar_t* input, const std::wstring& name) {
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + Id(input));
    varn::WriteSettingString(varn::kCaptureNameValue, name);
    varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:" + Id(L"phone-out"));
    varn::WriteSettingString(varn::kRenderNameValue, L"扬声器 (Phone Audio Adapter)");
  }

  // The microphone chosen and routed by the start-up connect, then the card picked: the routes
  // still run on the microphone.
  void RouteTheMicThenPickTheCard() {
    Choose(L"mic-in", kMicName);
    ASSERT_NE(Start(), nullptr);
    ASSERT_EQ(ListeningRoutes(), ChosenRoutes(L"mic-in", L"phone-out")) << Shown(ListeningRoutes());
    Pick(kCaptureCombo, kCardItem);
  }

  void TaskEnds(const std::string& end, size_t from) { ASSERT_NE(WaitFor(end, from, kTaskMs), kNowhere) << end; }

  bool Listens(const std::string& alias) const {
    for (const std::string& route : ListeningRoutes()) {
      if (route.rfind(alias + " ", 0) == 0) return true;
    }
    return false;
  }

 public:
  // A connect whose route ② failed left the card listening; connecting on the microphone again
  // must not leave the card playing beside it.
  void ManualConnectAfterAFailedOne() {
    ASSERT_NO_FATAL_FAILURE(RouteTheMicThenPickTheCard());
    SetFaults("SetPlaybackThroughDevice exit=5 from=2\n");
    size_t from = program_->LogLines().size();
    program_->PostCommand(kTrayConnect);
    ASSERT_TRUE(CloseNextBox(kTaskMs).has_value()) << "the failed connect's box";
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=1 ok=0", from));
    SetFaults("");
    Pick(kCaptureCombo, kMicItem);
    from = program_->LogLines().size();
    program_->PostCommand(kTrayConnect);
    TaskEnds("[INFO ] [work] 任务结束 op=1 ok=1", from);
  }

  // The routes of an earlier run still play from the microphone; the card is the saved choice.
  void StartupConnectOverAnEarlierRunsRoutes() {
    Choose(L"card-in", L"线路输入 (High Definition Audio Device)");
    varn::WriteSettingString(varn::kLastCaptureResolvedValue, Id(L"mic-in"));
    varn::WriteSettingString(varn::kLastRenderResolvedValue, Id(L"phone-out"));
    varn::WriteSettingString(varn::kLastBridgeCaptureResolvedValue, Id(L"bridge-in"));
    varn::WriteSettingString(varn::kLastBridgeRenderResolvedValue, Id(L"bridge-out"));
    ASSERT_TRUE(audiosim::UpdateWorld([](audiosim::World& w) {
      audiosim::Endpoint* mic = audiosim::FindEndpoint(w, L"mic-in");
      audiosim::Endpoint* bridgeIn = audiosim::FindEndpoint(w, L"bridge-in");
      mic->listen = bridgeIn->listen = true;
      mic->listenTarget = audiosim::FindEndpoint(w, L"bridge-out")->id;
      bridgeIn->listenTarget = audiosim::FindEndpoint(w, L"phone-out")->id;
      return true;
    }));
    ASSERT_NE(Start(), nullptr);
    TaskEnds("[INFO ] [work] 任务结束 op=2 ok=1", 0);
  }

  // The routed microphone unplugged after the pick is a loss (found by its own name, not taken
  // for the picked card) and is silenced; back, the recovery builds the routes on the card.
  void InputRecoveryAfterTheRoutedInputCameBack() {
    ASSERT_NO_FATAL_FAILURE(RouteTheMicThenPickTheCard());
    size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"unplug mic-in"), 0);
    ASSERT_NE(WaitFor("[WARN ] [dev] 声卡通道不可用 录制:缺失=1", from), kNowhere) << "the loss is reported";
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=8 ok=1", from));
    EXPECT_EQ(Find("[WARN ] [recov] 声卡输入端点 ID 变化", from), kNowhere) << "the pick is not the routed input";
    from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"plug mic-in"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=4 ok=1", from);
  }

  // A recovery brought about by `trigger` fails under `faults` after it switched the card on;
  // then `leave` takes a device away: the card must fall silent. With `back` the recovery
  // builds the routes again.
  void FailedRecoveryThenALeave(const wchar_t* trigger, const std::string& faults, const wchar_t* leave,
                                const wchar_t* back) {
    SetFaults(faults);
    size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(trigger), 0);
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=4 ok=0", from));
    ASSERT_EQ(Audiosim(leave), 0);
    ASSERT_TRUE(WaitUntil([&] { return !Listens("card-in"); }, 10000)) << Shown(ListeningRoutes());
    SetFaults("");
    from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(back), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=4 ok=1", from);
  }

  // The recovery's route ② failed and the bridge left before another try: route ① still plays
  // the card into a bridge that is gone, which Windows sends to the default output instead.
  void InputRecoveryHalfBuiltThenTheBridgeLeft() {
    Choose(L"card-in", L"线路输入 (High Definition Audio Device)");
    ASSERT_NE(Start(), nullptr);
    const size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"unplug card-in"), 0);
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=8 ok=1", from));
    const std::vector<std::string> journal = Journal();
    const long targetsSet = std::count_if(journal.begin(), journal.end(), [](const std::string& line) {
      return line.rfind("/SetPlaybackThroughDevice ", 0) == 0;
    });
    FailedRecoveryThenALeave(L"plug card-in", "SetPlaybackThroughDevice exit=5 from=" + std::to_string(targetsSet + 2) + "\n",
                             L"unplug bridge", L"plug bridge");
  }

  // The phone came back under a new id and the recovery that follows it failed; the input still
  // plays into the bridge when the phone leaves for good, a loss the move had marked as handled.
  void InputRecoveryFailedThenTheOutputLeft() {
    Choose(L"card-in", L"线路输入 (High Definition Audio Device)");
    ASSERT_NE(Start(), nullptr);
    FailedRecoveryThenALeave(L"replug phone", "SetPlaybackThroughDevice exit=5\n", L"unplug phone", L"plug phone");
  }

  void DefaultReclaim() {
    ASSERT_NO_FATAL_FAILURE(RouteTheMicThenPickTheCard());
    const size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=3 ok=1", from);
  }

  void ReconnectAfterEnabling() {
    ASSERT_NO_FATAL_FAILURE(RouteTheMicThenPickTheCard());
    const size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=7 ok=1", from);
  }

  // The bridge moved to another port: it comes back as a new instance without ever leaving the
  // lists, while its old capture endpoint still listens into the phone.
  void BridgeBackUnderNewIds() {
    Choose(L"card-in", L"线路输入 (High Definition Audio Device)");
    ASSERT_NE(Start(), nullptr);
    const size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"replug bridge"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=5 ok=1", from);
  }

  // After a cancel the bridge took the default, and the reclaim built the routes again (the
  // program does not count itself as listening then); the bridge then moved to another port.
  void BridgeUnderNewIdsAfterAReclaimThatFollowedACancel() {
    Choose(L"card-in", L"线路输入 (High Definition Audio Device)");
    ASSERT_NE(Start(), nullptr);
    size_t from = program_->LogLines().size();
    Click(kCancelButton);
    ASSERT_NE(WaitFor("[INFO ] [app] 操作完成 [取消侦听] 结果=成功", from, kTaskMs), kNowhere);
    from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=3 ok=1", from));
    from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"replug bridge"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=5 ok=1", from);
  }

  // The stop after the unplug failed, so the microphone still listens when the bridge returns.
  void BridgeReturnAfterAFailedStop() {
    ASSERT_NO_FATAL_FAILURE(RouteTheMicThenPickTheCard());
    SetFaults("SetListenToThisDevice exit=5\n");
    size_t from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
    ASSERT_NO_FATAL_FAILURE(TaskEnds("[INFO ] [work] 任务结束 op=8 ok=0", from));
    SetFaults("");
    from = program_->LogLines().size();
    ASSERT_EQ(Audiosim(L"plug bridge"), 0);
    TaskEnds("[INFO ] [work] 任务结束 op=5 ok=1", from);
  }
};

TEST_P(RouteTruth, OnlyTheChosenInputAndTheBridgeCaptureListenAndACancelLeavesNone) {
  const RouteCase& path = GetParam();
  ASSERT_NO_FATAL_FAILURE((this->*path.act)());
  EXPECT_TRUE(WaitUntil([&] { return ListeningRoutes() == ChosenRoutes(path.input, L"phone-out"); }, 5000))
      << Shown(ListeningRoutes());
  EXPECT_EQ(varn::ReadSettingString(varn::kLastCaptureResolvedValue), Id(path.input)) << "the ledger";

  ASSERT_TRUE(WaitUntil([&] { return IsWindowEnabled(Control(kCancelButton)) != FALSE; }, 10000));
  const size_t from = program_->LogLines().size();
  Click(kCancelButton);
  ASSERT_NE(WaitFor("[INFO ] [app] 操作完成 [取消侦听] 结果=成功", from, kTaskMs), kNowhere);
  EXPECT_EQ(ListeningRoutes(), std::vector<std::string>()) << Shown(ListeningRoutes());
  ExitThroughTrayWithACleanLog();
}

const RouteCase kPaths[] = {
    {"ManualConnect", &RouteTruth::ManualConnectAfterAFailedOne, L"mic-in"},
    {"StartupConnect", &RouteTruth::StartupConnectOverAnEarlierRunsRoutes, L"card-in"},
    {"InputRecovery", &RouteTruth::InputRecoveryAfterTheRoutedInputCameBack, L"card-in"},
    {"InputRecoveryHalfBuilt", &RouteTruth::InputRecoveryHalfBuiltThenTheBridgeLeft, L"card-in"},
    {"InputRecoveryThenTheOutputLeft", &RouteTruth::InputRecoveryFailedThenTheOutputLeft, L"card-in"},
    {"DefaultReclaim", &RouteTruth::DefaultReclaim, L"card-in"},
    {"EnabledReconnect", &RouteTruth::ReconnectAfterEnabling, L"card-in"},
    {"BridgeReturn", &RouteTruth::BridgeReturnAfterAFailedStop, L"card-in"},
    {"BridgeUnderNewIds", &RouteTruth::BridgeBackUnderNewIds, L"card-in"},
    {"BridgeUnderNewIdsAfterAReclaim", &RouteTruth::BridgeUnderNewIdsAfterAReclaimThatFollowedACancel, L"card-in"},
};

INSTANTIATE_TEST_SUITE_P(EveryPath, RouteTruth, ::testing::ValuesIn(kPaths),
                         [](const ::testing::TestParamInfo<RouteCase>& info) { return std::string(info.param.name); });

}  // namespace
