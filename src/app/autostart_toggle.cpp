// The autostart switch, from the window's check box or the tray menu.

#include "app/app.h"
#include "audio/endpoints.h"
#include "controller/flag_events.h"
#include "controller/startup.h"
#include "log/log.h"
#include "settings/saved_choice.h"
#include "settings/settings.h"
#include "ui/device_lists.h"

namespace varn {

// Switching autostart on also stores the current picks: a logon start without saved choices
// would not open its window at all. The logon task itself is aligned by a worker task, whose
// outcome sets the box to what the system really has.
void AutostartToggled(bool fromTray) {
  HWND check = ControlWindow(kAutostartCheckId);
  bool wanted;
  if (fromTray) {
    wanted = !Flags().autostartOn;
    LogInfo(L"app", std::wstring(L"托盘菜单切换开机自启 → ") + (wanted ? L"开" : L"关"));
  } else {
    wanted = SendMessageW(check, BM_GETCHECK, 0, 0) == BST_CHECKED;
  }
  int captureIndex = SelectedDeviceItem(kCaptureComboId);
  int renderIndex = SelectedDeviceItem(kRenderComboId);
  if (wanted && captureIndex >= 0 && renderIndex >= 0) {
    SaveChoice(ChoiceSide::Capture,
               MakeSavedSelection(captureIndex, ResolveSelection(captureList, captureIndex, Flow::Capture).id));
    SaveChoice(ChoiceSide::Render,
               MakeSavedSelection(renderIndex, ResolveSelection(renderList, renderIndex, Flow::Render).id));
  }
  WriteStartupEnabled(wanted);
  WriteStartupConfigured();
  NoteAutostartWish(wanted);
  if (fromTray) SendMessageW(check, BM_SETCHECK, wanted ? BST_CHECKED : BST_UNCHECKED, 0);
  SubmitStartupSync(wanted);
}

}  // namespace varn
