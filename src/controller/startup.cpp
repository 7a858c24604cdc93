#include "controller/startup.h"

#include <windows.h>

#include "audio/endpoints.h"
#include "log/log.h"
#include "settings/settings.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"

namespace varn {

namespace {
constexpr int kWarningIcon = 2;
}

void ApplyInitialState() {
  captureList = ListEndpoints(kCaptureFlow);
  renderList = ListEndpoints(kRenderFlow);
  FillDeviceCombo(ControlWindow(kCaptureComboId), captureList, ReadSettingString(kCaptureIdValue));
  FillDeviceCombo(ControlWindow(kRenderComboId), renderList, ReadSettingString(kRenderIdValue));

  // A first start has no preference stored yet: autostart is on until the user says otherwise.
  StartupSetting startup = ReadStartupEnabled();
  if (!startup.found) {
    startup.enabled = true;
    WriteStartupEnabled(true);
  }
  autostartOn = startup.enabled;
  SendMessageW(ControlWindow(kAutostartCheckId), BM_SETCHECK, autostartOn ? BST_CHECKED : BST_UNCHECKED, 0);
  WriteStartupConfigured();

  bool present = FindBridge(captureList).has_value() && FindBridge(renderList).has_value();
  bridgePresent = present;
  bridgeAbsentAtStart = !present;
  SetStatusText(present ? L"正在初始化音频路由..." : L"等待连接 USB Audio VARN...");
  if (!present) {
    ShowBalloon(L"VARN 未连接", L"请插入 USB Audio VARN，连接后将自动恢复侦听。", kWarningIcon);
  }
  if (!IsLogEnabled()) {
    ShowBalloon(L"无法写入日志文件", L"程序目录和用户目录都写不进去，本次运行不会产生日志。", kWarningIcon);
  }
}

}  // namespace varn
