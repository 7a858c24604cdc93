// The device watchdog's decisions as tables: which branch a run takes from what it found,
// what it says about a lost channel, and whether a bridge endpoint made the default is taken
// back.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controller/watch_decisions.h"

namespace {

using varn::ChannelState;
using varn::DispatchFacts;
using varn::FlowDefaults;
using varn::HijackAction;
using varn::WatchBranch;

const char* BranchName(WatchBranch branch) {
  switch (branch) {
    case WatchBranch::ChannelsBack: return "ChannelsBack";
    case WatchBranch::ChannelsBackNoBridge: return "ChannelsBackNoBridge";
    case WatchBranch::ChannelsStillLost: return "ChannelsStillLost";
    case WatchBranch::ChannelsAndBridgeLost: return "ChannelsAndBridgeLost";
    case WatchBranch::BridgeStays: return "BridgeStays";
    case WatchBranch::BridgeBack: return "BridgeBack";
    case WatchBranch::BridgeDisabled: return "BridgeDisabled";
    case WatchBranch::BridgeUnplugged: return "BridgeUnplugged";
    case WatchBranch::Nothing: return "Nothing";
  }
  return "?";
}

TEST(WatchDecision, DispatchTakesTheFirstMatchingBranchAndAlwaysEnablesADisabledBridge) {
  struct Row {
    const char* what;
    DispatchFacts facts;  // unavailableHandled, channelsActive, bridgeNow, bridgePresent, bridgeDisabled, bridgeMoved, listening, inputMayListen
    WatchBranch branch;
    bool enableBridge;
  };
  const std::vector<Row> rows = {
      // A lost channel is dealt with first, whatever the bridge does.
      {"channels back with the bridge", {true, true, true, false, false}, WatchBranch::ChannelsBack, false},
      {"channels back, bridge gone", {true, true, false, true, false}, WatchBranch::ChannelsBackNoBridge, false},
      {"channels back, bridge disabled", {true, true, false, false, true}, WatchBranch::ChannelsBackNoBridge, true},
      {"a channel still lost", {true, false, true, true, false}, WatchBranch::ChannelsStillLost, false},
      {"channel and bridge lost", {true, false, false, true, false}, WatchBranch::ChannelsAndBridgeLost, false},
      {"channel lost, bridge disabled", {true, false, false, false, true}, WatchBranch::ChannelsAndBridgeLost, true},
      // The bridge branches.
      {"bridge stays", {false, false, true, true, false}, WatchBranch::BridgeStays, false},
      {"bridge came back", {false, false, true, false, false}, WatchBranch::BridgeBack, false},
      {"bridge disabled", {false, false, false, true, true}, WatchBranch::BridgeDisabled, true},
      {"bridge unplugged", {false, false, false, true, false}, WatchBranch::BridgeUnplugged, false},
      {"bridge absent all along", {false, false, false, false, false}, WatchBranch::Nothing, false},
      // Absent since start-up (bridgePresent cleared) with an endpoint left disabled.
      {"bridge disabled since start-up", {false, false, false, false, true}, WatchBranch::Nothing, true},
      // With both bridge endpoints active, a stale "disabled" reading means nothing.
      {"bridge active", {false, false, true, true, true}, WatchBranch::BridgeStays, false},
      {"bridge back under new ids", {false, false, true, true, false, true}, WatchBranch::BridgeBack, false},
      {"bridge under new ids while a channel is lost", {true, false, true, true, false, true},
       WatchBranch::ChannelsStillLost, false},
      // A failed enabling left the bridge not counted as present while the routes are on.
      {"bridge unplugged after a failed enabling", {false, false, false, false, false, false, true},
       WatchBranch::BridgeUnplugged, false},
      {"bridge disabled after a failed enabling", {false, false, false, false, true, false, true},
       WatchBranch::BridgeDisabled, true},
      // A connect switched route ① on and failed on route ②; then the bridge left.
      {"a failed connect's input, bridge gone", {false, false, false, false, false, false, false, true},
       WatchBranch::BridgeUnplugged, false},
      {"a failed recovery's input, bridge gone", {true, true, false, true, false, false, false, true},
       WatchBranch::BridgeUnplugged, false},
      {"a failed recovery's input, bridge disabled", {true, true, false, false, true, false, false, true},
       WatchBranch::ChannelsBackNoBridge, true},
  };
  for (const Row& row : rows) {
    const varn::WatchDecision decision = varn::DecideDispatch(row.facts);
    EXPECT_STREQ(BranchName(decision.branch), BranchName(row.branch)) << row.what;
    EXPECT_EQ(decision.enableBridge, row.enableBridge) << row.what;
  }
}

TEST(WatchDecision, ALostChannelIsReportedOnceAndItsStatusFollowsEveryRun) {
  struct Row {
    const char* what;
    ChannelState channels;  // captureMissing, captureDisabled, renderMissing, renderDisabled
    bool bridgeNow;
    bool handled;
    std::wstring title;  // empty: no report
    std::wstring text;
    std::wstring status;
  };
  const std::wstring later = L"，恢复后将自动连接";
  const std::vector<Row> rows = {
      {"card unplugged", {true, false, false, false}, true, false, L"未检测到声卡",
       L"请打开或者插入对应的USB声卡，设备恢复后将自动连接。", L"声卡输入通道已断开" + later},
      {"card unplugged, reported", {true, false, false, false}, true, true, L"", L"", L"声卡输入通道已断开" + later},
      {"phone gone too, reported", {true, false, true, true}, true, true, L"", L"",
       L"声卡输入通道已断开、手机输出通道被禁用" + later},
      {"card and bridge gone", {true, false, false, false}, false, false, L"未检测到 VARN 和声卡",
       L"请插入 USB Audio VARN，并打开或者插入对应的USB声卡。", L"未检测到 VARN，请连接设备"},
      {"input disabled", {true, true, false, false}, true, false, L"声卡通道被禁用",
       L"声卡输入通道被禁用：请在系统声音设置中启用，恢复后将自动连接。", L"声卡输入通道被禁用" + later},
      {"output disabled", {false, false, true, true}, true, false, L"声卡通道被禁用",
       L"手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。", L"手机输出通道被禁用" + later},
      {"output disabled, input unplugged", {true, false, true, true}, true, false, L"声卡通道被禁用",
       L"手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。",
       L"声卡输入通道已断开、手机输出通道被禁用" + later},
      {"both disabled, no bridge", {true, true, true, true}, false, false, L"声卡通道被禁用",
       L"声卡输入和手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。", L"未检测到 VARN，请连接设备"},
  };
  for (const Row& row : rows) {
    const varn::UnavailableNotice notice = varn::DecideUnavailableNotice(row.channels, row.bridgeNow, row.handled);
    EXPECT_EQ(notice.report, !row.title.empty()) << row.what;
    EXPECT_EQ(notice.balloonTitle, row.title) << row.what;
    EXPECT_EQ(notice.balloonText, row.text) << row.what;
    EXPECT_EQ(notice.statusText, row.status) << row.what;
  }
}

TEST(WatchDecision, ABridgeDefaultIsReclaimedWhereverWindowsHasAnotherEndpointToChoose) {
  const varn::DeviceIdentity bridgeIn{L"麦克风 (USB Audio VARN)", L"{bridge-in}"};
  const varn::DeviceIdentity bridgeOut{L"扬声器 (USB Audio VARN)", L"{bridge-out}"};
  // bridge, default id, another active endpoint
  const FlowDefaults captureHijacked{bridgeIn, L"{bridge-in}", true};
  const FlowDefaults captureAlone{bridgeIn, L"{bridge-in}", false};
  const FlowDefaults captureFine{bridgeIn, L"{card-in}", true};
  const FlowDefaults captureNoDefault{bridgeIn, L"", false};
  const FlowDefaults renderHijacked{bridgeOut, L"{bridge-out}", true};
  const FlowDefaults renderAlone{bridgeOut, L"{bridge-out}", false};
  const FlowDefaults renderFine{bridgeOut, L"{phone-out}", true};
  const FlowDefaults renderNoBridge{std::nullopt, L"{phone-out}", true};
  struct Row {
    const char* what;
    FlowDefaults capture;
    FlowDefaults render;
    HijackAction action;
  };
  const std::vector<Row> rows = {
      {"no bridge default", captureFine, renderFine, HijackAction::None},
      {"no default at all", captureNoDefault, renderNoBridge, HijackAction::None},
      {"render taken", captureFine, renderHijacked, HijackAction::Reclaim},
      {"capture taken", captureHijacked, renderNoBridge, HijackAction::Reclaim},
      {"both taken", captureHijacked, renderHijacked, HijackAction::Reclaim},
      {"capture taken, nothing else to capture from", captureAlone, renderFine, HijackAction::Hopeless},
      {"render taken, nothing else to play on", captureFine, renderAlone, HijackAction::Hopeless},
      // The reclaim leaves a flow alone that cannot move and takes the other back.
      {"render reclaimable, capture hopeless", captureAlone, renderHijacked, HijackAction::Reclaim},
      {"both hopeless", captureAlone, renderAlone, HijackAction::Hopeless},
      // A lone bridge endpoint that is not the default is no reason to hold back the other flow.
      {"render taken, capture bridge alone but not default", {bridgeIn, L"", false}, renderHijacked,
       HijackAction::Reclaim},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(static_cast<int>(varn::DecideHijack(row.capture, row.render)), static_cast<int>(row.action)) << row.what;
  }
}

}  // namespace
