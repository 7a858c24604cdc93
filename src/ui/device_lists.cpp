#include "ui/device_lists.h"

#include <cwctype>

#include "audio/endpoints.h"
#include "routes/route_ledger.h"
#include "settings/saved_choice.h"
#include "ui/window_state.h"

namespace varn {

std::vector<DeviceIdentity> captureList;
std::vector<DeviceIdentity> renderList;

namespace {

bool IsBlank(wchar_t c) { return std::iswspace(c) != 0; }
bool IsDigit(wchar_t c) { return std::iswdigit(c) != 0; }

// Entry 0 is always an item, even if the default endpoint is the bridge: it stands for
// "follow the default", not for the endpoint it happens to name.
bool IsListedAsItem(const std::vector<DeviceIdentity>& entries, size_t position) {
  return position == 0 || !NameIsBridge(entries[position].name);
}

// What a refill must select to keep the list as the user sees it: the current pick, or the
// stored choice when there is none.
std::wstring CurrentChoiceText(int controlId, const std::vector<DeviceIdentity>& list, Flow flow,
                               ChoiceSide side) {
  int index = SelectedDeviceItem(controlId);
  if (index == 0) return kSavedDefault;
  if (index > 0) return MakeSavedSelection(index, ResolveSelection(list, index, flow).id);
  return LoadChoice(side);
}

}  // namespace

int SelectedDeviceItem(int controlId) {
  HWND combo = ControlWindow(controlId);
  if (combo == nullptr) return -1;
  LRESULT index = SendMessageW(combo, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

// Windows numbers devices of the same name ("2- 扬声器", "扬声器 (2- USB Audio)") and some
// drivers append a counter; a device plugged in again may come back under either form. Both
// are dropped so that the saved name still finds it.
std::wstring NormalizeDeviceName(const std::wstring& name) {
  size_t begin = 0;
  size_t end = name.size();
  while (begin < end && IsBlank(name[begin])) ++begin;
  while (end > begin && IsBlank(name[end - 1])) --end;
  std::wstring text = name.substr(begin, end - begin);

  // A number and a hyphen (or underscore) at the start or right after "(": the numbering.
  // The position stays put after a removal, so "2- 3- x" loses both.
  size_t p = 0;
  while (p < text.size()) {
    if (p == 0 || text[p - 1] == L'(') {
      size_t q = p;
      while (q < text.size() && IsBlank(text[q])) ++q;
      size_t r = q;
      while (r < text.size() && IsDigit(text[r])) ++r;
      if (r > q && r < text.size() && (text[r] == L'-' || text[r] == L'_')) {
        text.erase(p, r - p + 1);
        size_t blanks = 0;
        while (p + blanks < text.size() && IsBlank(text[p + blanks])) ++blanks;
        text.erase(p, blanks);
        continue;
      }
    }
    ++p;
  }

  // A trailing number, with the blanks, hyphens or underscores before it.
  size_t n = text.size();
  while (n > 0 && IsDigit(text[n - 1])) --n;
  if (n < text.size()) {
    while (n > 0 && (IsBlank(text[n - 1]) || text[n - 1] == L'-' || text[n - 1] == L'_')) --n;
    text.resize(n);
  }

  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// Entry 0 is skipped: it names whatever is the default now, not the endpoint that was chosen.
std::optional<DeviceIdentity> FindEndpointByIdOrName(const std::vector<DeviceIdentity>& entries,
                                                     const std::wstring& lastResolvedId,
                                                     const std::wstring& savedName) {
  for (size_t i = 1; i < entries.size(); ++i) {
    if (entries[i].id == lastResolvedId) return entries[i];
  }
  if (savedName.empty()) return std::nullopt;
  const std::wstring wanted = NormalizeDeviceName(savedName);
  for (size_t i = 1; i < entries.size(); ++i) {
    if (!NameIsBridge(entries[i].name) && NormalizeDeviceName(entries[i].name) == wanted) return entries[i];
  }
  return std::nullopt;
}

// An id match is final only for a "DEVICE:" choice: it may still move from the default entry
// (which carries the default endpoint's id) or from a name match to the endpoint's own item.
// A name match counts only while nothing has matched, so the first of several wins.
int ChooseSavedItem(const std::vector<DeviceIdentity>& entries, const std::wstring& savedChoice,
                    const std::wstring& savedName) {
  const SavedSelection parsed = ParseSavedSelection(savedChoice);
  const std::wstring wantedName = savedName.empty() ? std::wstring() : NormalizeDeviceName(savedName);
  int selection = savedChoice == kSavedDefault ? 0 : -1;
  int itemIndex = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!IsListedAsItem(entries, i)) continue;
    if ((selection < 0 || parsed.isDevice) && entries[i].id == parsed.id) {
      selection = itemIndex;
    } else if (selection < 0 && parsed.isDevice && !savedName.empty() &&
               NormalizeDeviceName(entries[i].name) == wantedName) {
      selection = itemIndex;
    }
    ++itemIndex;
  }
  if (selection < 0 && savedChoice.empty() && !entries.empty()) selection = 0;
  return selection;
}

void FillDeviceCombo(HWND combo, const std::vector<DeviceIdentity>& entries,
                     const std::wstring& savedChoice) {
  if (combo == nullptr) return;
  const bool isCapture = GetDlgCtrlID(combo) == kCaptureComboId;
  const std::wstring savedName = LoadChoiceName(isCapture ? ChoiceSide::Capture : ChoiceSide::Render);
  // One repaint at the end instead of one per item.
  SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
  SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!IsListedAsItem(entries, i)) continue;
    SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entries[i].name.c_str()));
  }
  SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(ChooseSavedItem(entries, savedChoice, savedName)), 0);
  SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(combo, nullptr, TRUE);
}

void RefreshDeviceLists() {
  const std::wstring captureChoice = CurrentChoiceText(kCaptureComboId, captureList, Flow::Capture, ChoiceSide::Capture);
  const std::wstring renderChoice = CurrentChoiceText(kRenderComboId, renderList, Flow::Render, ChoiceSide::Render);
  captureList = ListEndpoints(Flow::Capture);
  renderList = ListEndpoints(Flow::Render);
  FillDeviceCombo(ControlWindow(kCaptureComboId), captureList, captureChoice);
  FillDeviceCombo(ControlWindow(kRenderComboId), renderList, renderChoice);
}

bool BuildConnectRequestFromSelection(ConnectRequest& request) {
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  const int renderIndex = SelectedDeviceItem(kRenderComboId);
  if (captureIndex < 0 || renderIndex < 0) return false;
  const std::optional<DeviceIdentity> bridgeCapture = FindBridge(captureList);
  const std::optional<DeviceIdentity> bridgeRender = FindBridge(renderList);
  if (!bridgeCapture || !bridgeRender) return false;
  request.capture = ResolveSelection(captureList, captureIndex, Flow::Capture);
  request.render = ResolveSelection(renderList, renderIndex, Flow::Render);
  request.captureFollowsDefault = captureIndex == 0;
  request.renderFollowsDefault = renderIndex == 0;
  request.bridgeCapture = *bridgeCapture;
  request.bridgeRender = *bridgeRender;
  return true;
}

bool StoredDeviceUnlisted(ChoiceSide side) {
  const int controlId = side == ChoiceSide::Capture ? kCaptureComboId : kRenderComboId;
  return SelectedDeviceItem(controlId) < 0 && ParseSavedSelection(LoadChoice(side)).isDevice;
}

// The ledger's input comes first: it is the input the routes were built on, which may no
// longer be the one picked (a pick does not replace it).
DeviceIdentity StopListenIdentity() {
  const std::wstring held = ReadRouteLedger().input.id;
  if (!held.empty()) return DeviceIdentity{L"", held};
  const int captureIndex = SelectedDeviceItem(kCaptureComboId);
  if (captureIndex >= 0) return ResolveSelection(captureList, captureIndex, Flow::Capture);
  return DeviceIdentity();
}

}  // namespace varn
