// A pick in either device list: what it saves, and what it changes when both sides can be used.

#include "audio/endpoints.h"
#include "controller/controller.h"
#include "controller/flag_events.h"
#include "settings/saved_choice.h"
#include "ui/device_lists.h"
#include "ui/status.h"
#include "ui/window_state.h"

namespace varn {

namespace {

// The pick of one side, saved as the new choice. The route ledger is left alone: a pick
// switches no route, and the next connect switches off a replaced route by comparing against
// what the ledger holds.
void SavePick(ChoiceSide side, int itemIndex, const DeviceIdentity& endpoint) {
  SaveChoice(side, MakeSavedSelection(itemIndex, endpoint.id));
  SaveChoiceName(side, endpoint.name);
}

}  // namespace

// A side whose endpoint is gone (or item 0 without a default) keeps its old settings, so a
// stale list cannot overwrite a good choice with nothing.
void OnDeviceSelectionChanged() {
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  const int renderIndex = SelectedDeviceItem(kRenderComboId);
  if (captureIndex < 0 || renderIndex < 0) return;
  const DeviceIdentity capture = ResolveSelection(captureList, captureIndex, Flow::Capture);
  const DeviceIdentity render = ResolveSelection(renderList, renderIndex, Flow::Render);
  const bool captureOk = !capture.id.empty() && IsActiveEndpoint(capture.id, Flow::Capture);
  const bool renderOk = !render.id.empty() && IsActiveEndpoint(render.id, Flow::Render);
  if (captureOk) SavePick(ChoiceSide::Capture, captureIndex, capture);
  if (renderOk) SavePick(ChoiceSide::Render, renderIndex, render);
  if (!captureOk || !renderOk || !FindBridge(captureList) || !FindBridge(renderList)) return;
  NoteUsablePick();
  SetStatusText(L"设备通道已更新，可以立即连接", StatusClass::Plain);
  UpdateActionButtons();
}

}  // namespace varn
