// The early evaluation on the real program: the notifications of one device change are taken
// together into one extra run, which repairs the unplugged bridge and says so in one log line;
// with the notifications silenced the poll alone does the same repair.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "world.h"
#include "support/program.h"
#include "support/program_scenario.h"

using namespace testing_support;

namespace {

constexpr char kEarlyRunLine[] = "[INFO ] [dev] 设备变化通知 ";
constexpr DWORD kRepairLimitMs = 10000;

size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

class EarlyWatchScenario : public ProgramScenario {
 protected:
  void ChooseCardAndPhone() {
    varn::WriteSettingString(varn::kCaptureIdValue, L"DEVICE:" + Id(L"card-in"));
    varn::WriteSettingString(varn::kLastCaptureResolvedValue, Id(L"card-in"));
    varn::WriteSettingString(varn::kRenderIdValue, L"DEVICE:" + Id(L"phone-out"));
    varn::WriteSettingString(varn::kLastRenderResolvedValue, Id(L"phone-out"));
  }
  size_t CountLogLines(const std::string& begin) const {
    size_t count = 0;
    for (const std::string& line : program_->LogLines()) count += line.rfind(begin, 0) == 0 ? 1 : 0;
    return count;
  }
};

TEST_F(EarlyWatchScenario, TheBridgeUnpluggedIsRepairedByOneEarlyRunOrByThePollWhenNoNoticeComes) {
  for (const wchar_t* notifications : {L"on", L"off"}) {
    SCOPED_TRACE(Utf8(notifications));
    EnvScope mode(L"AUDIOSIM_NOTIFICATIONS", notifications);
    ASSERT_EQ(Audiosim(L"init"), 0);
    ChooseCardAndPhone();
    ASSERT_NE(Start(), nullptr);

    // The bridge's two endpoints leave at once: two notifications, one early run.
    ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
    const std::string repair = "/SetListenToThisDevice " + Quoted(Id(L"card-in")) + " 0";
    ASSERT_TRUE(WaitUntil([&] { return Count(Journal(), repair) > 0; }, kRepairLimitMs));
    if (notifications == std::wstring(L"on")) {
      ASSERT_TRUE(WaitUntil([&] { return CountLogLines(kEarlyRunLine) > 0; }, kRepairLimitMs));
      EXPECT_EQ(CountLogLines(std::string(kEarlyRunLine) + "2 条合并为一次提前巡检，设备列表已更新"), 1u);
    }
    EXPECT_EQ(CountLogLines(kEarlyRunLine), notifications == std::wstring(L"on") ? 1u : 0u);
    ExitThroughTrayWithACleanLog();
  }
}

// A headset with a loose plug: its endpoint comes and goes five times within a moment. The
// program looks once, after the flapping stopped, instead of once per notice.
TEST_F(EarlyWatchScenario, AFlappingEndpointIsLookedAtOnceAfterItSettles) {
  const std::wstring headset = L"{0.0.0.00000000}.{5b1d7c3e-0f42-4a96-8d17-2e6c9b0a7f05}";
  ASSERT_TRUE(audiosim::UpdateWorld([&](audiosim::World& world) {
    audiosim::Endpoint e;
    e.id = headset;
    e.flow = audiosim::kRender;
    e.device = L"headset";
    e.name = L"耳机 (USB Headset)";
    world.endpoints.push_back(e);
    return true;
  }));
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);

  const size_t listChangesBefore = CountLogLines("[INFO ] [dev] 设备列表发生变化");
  for (int flap = 0; flap < 5; ++flap) {
    ASSERT_TRUE(audiosim::UpdateWorld([&](audiosim::World& world) {
      audiosim::Endpoint* e = audiosim::FindEndpoint(world, headset);
      audiosim::SetEnabled(world, *e, !e->enabled);
      return true;
    }));
    Sleep(10);
  }
  ASSERT_TRUE(WaitUntil([&] { return CountLogLines(kEarlyRunLine) > 0; }, kRepairLimitMs));
  // Longer than a poll period: whatever further runs the flapping brings have come by then.
  Sleep(1600);
  EXPECT_EQ(CountLogLines(kEarlyRunLine), 1u);
  // The early run, and at most one poll that fell into the flapping.
  EXPECT_LE(CountLogLines("[INFO ] [dev] 设备列表发生变化") - listChangesBefore, 2u);
  ExitThroughTrayWithACleanLog();
}

// A driver slow to report volumes makes the volume guard hold the worker for seconds. The
// bridge unplugged in that time is repaired by the early run as soon as the guard is done, not
// by a later poll: the early run's own line follows the decision instead of coming before it.
TEST_F(EarlyWatchScenario, AChangeWhileTheVolumeGuardRunsIsRepairedByTheEarlyRunOnceTheGuardIsDone) {
  EnvScope slowDriver(L"AUDIOSIM_VOLUME_READ_DELAY", L"700");  // three readings: over two polls
  ChooseCardAndPhone();
  ASSERT_NE(Start(), nullptr);
  const size_t guard = WaitFor("[INFO ] [guard] 音量守护运行中", 0, 15000);
  ASSERT_NE(guard, kNowhere);
  ASSERT_EQ(Audiosim(L"unplug bridge"), 0);
  const size_t decided = WaitFor("[WARN ] [dev] VARN 端点从活动列表消失且不在禁用列表", guard, kRepairLimitMs);
  ASSERT_NE(decided, kNowhere);
  const size_t early = WaitFor(kEarlyRunLine, guard, kRepairLimitMs);
  ASSERT_NE(early, kNowhere);
  EXPECT_GT(early, decided) << "the early run waited for the guard and decided";
  ExitThroughTrayWithACleanLog();
}

}  // namespace
