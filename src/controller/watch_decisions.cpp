#include "controller/watch_decisions.h"

#include "ui/status.h"

namespace varn {

std::wstring LostChannelStatus(const ChannelState& channels) {
  return DescribeUnavailableChannels(channels.captureMissing, channels.renderMissing, channels.captureDisabled,
                                     channels.renderDisabled) +
         L"，恢复后将自动连接";
}

// The notice goes out once per loss; the status is recomputed on every run, so that it follows
// a second channel going or the bridge leaving while the first is still gone. A disabled
// channel gets its own wording because the fix is in the sound settings, not at the socket.
UnavailableNotice DecideUnavailableNotice(const ChannelState& channels, bool bridgeNow, bool alreadyHandled) {
  UnavailableNotice notice;
  notice.report = !alreadyHandled;
  notice.statusText = bridgeNow ? LostChannelStatus(channels) : L"未检测到 VARN，请连接设备";
  if (!notice.report) return notice;
  if (channels.captureDisabled || channels.renderDisabled) {
    notice.balloonTitle = L"声卡通道被禁用";
    if (channels.captureDisabled && channels.renderDisabled) {
      notice.balloonText = L"声卡输入和手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。";
    } else if (channels.captureDisabled) {
      notice.balloonText = L"声卡输入通道被禁用：请在系统声音设置中启用，恢复后将自动连接。";
    } else {
      notice.balloonText = L"手机输出通道被禁用：请在系统声音设置中启用，恢复后将自动连接。";
    }
  } else if (bridgeNow) {
    notice.balloonTitle = L"未检测到声卡";
    notice.balloonText = L"请打开或者插入对应的USB声卡，设备恢复后将自动连接。";
  } else {
    notice.balloonTitle = L"未检测到 VARN 和声卡";
    notice.balloonText = L"请插入 USB Audio VARN，并打开或者插入对应的USB声卡。";
  }
  return notice;
}

// While a lost channel is unrecovered, the bridge branches wait: the recovery reconnect builds
// both routes anyway once everything is back.
//
// A disabled bridge endpoint is enabled whatever the branch. The default reclaim leaves the
// bridge endpoint disabled when it cannot finish, and relies on this run to enable it again;
// but the branch that does so needs bridgePresent, which the start-up work clears when the
// bridge is not fully there, and is not reached while a lost channel waits for recovery.
// Without this, a logon with the rack's card off could leave the bridge capture disabled for
// good.
WatchDecision DecideDispatch(const DispatchFacts& facts) {
  WatchDecision decision;
  decision.enableBridge = !facts.bridgeNow && facts.bridgeDisabled;
  if (facts.unavailableHandled) {
    if (facts.channelsActive && facts.bridgeNow) {
      decision.branch = WatchBranch::ChannelsBack;
    } else if (facts.channelsActive) {
      // A recovery that lost the bridge half way has the input playing into it: stopped as
      // after an unplug.
      const bool halfBuilt = facts.inputMayListen && !facts.bridgeDisabled;
      decision.branch = halfBuilt ? WatchBranch::BridgeUnplugged : WatchBranch::ChannelsBackNoBridge;
    } else {
      decision.branch = facts.bridgeNow ? WatchBranch::ChannelsStillLost : WatchBranch::ChannelsAndBridgeLost;
    }
  } else if (facts.bridgeNow) {
    // A bridge plugged into another port comes back as a new instance without ever leaving
    // the lists: the routes still run on its old, absent endpoints.
    decision.branch = facts.bridgePresent && !facts.bridgeMoved ? WatchBranch::BridgeStays : WatchBranch::BridgeBack;
  } else if (facts.bridgePresent || facts.listening || facts.inputMayListen) {
    // Routes that are on need the bridge gone to be judged even when it was not counted as
    // present (an enabling that failed leaves it so), and so does the route ① of a connect
    // that failed after switching it on: the input would play elsewhere.
    decision.branch = facts.bridgeDisabled ? WatchBranch::BridgeDisabled : WatchBranch::BridgeUnplugged;
  }
  return decision;
}

// The reclaim disables the bridge endpoint so that Windows picks another default. With no
// other active endpoint in that flow Windows picks none: the reclaim would fail, the bridge
// endpoint would stay disabled and its route break. The reclaim leaves such a flow alone and
// takes the other one back, so a hijack is hopeless only when no hijacked flow can move; it
// is left alone until another endpoint appears.
HijackAction DecideHijack(const FlowDefaults& capture, const FlowDefaults& render) {
  if (!BridgeIsDefault(capture) && !BridgeIsDefault(render)) return HijackAction::None;
  const bool captureMovable = BridgeIsDefault(capture) && !DefaultCannotMove(capture);
  const bool renderMovable = BridgeIsDefault(render) && !DefaultCannotMove(render);
  return captureMovable || renderMovable ? HijackAction::Reclaim : HijackAction::Hopeless;
}

}  // namespace varn
