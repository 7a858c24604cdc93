#include "ui/main_controls.h"

#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "base/scoped_handles.h"
#include "ui/status.h"
#include "ui/window_state.h"

namespace varn {

namespace {

enum class FontRole { kBody, kTitle, kSubtitle, kStatus };

struct ControlSpec {
  int id;
  const wchar_t* className;
  const wchar_t* text;
  DWORD style;
  FontRole font;
  int x, y, width, height;  // at 96 DPI, in client coordinates
};

constexpr DWORD kStaticStyle = WS_CHILD | WS_VISIBLE;
constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST;
constexpr DWORD kPushStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;

// Creation order is the tab order. A drop-down list's height is that of its opened list; the
// closed box takes the height its font needs.
constexpr ControlSpec kControls[] = {
    {kHeaderBandId, L"STATIC", nullptr, kStaticStyle, FontRole::kBody, 0, 0, 620, 66},
    {kTitleId, L"STATIC", L"VARN  USB AUDIO", kStaticStyle, FontRole::kTitle, 24, 6, 330, 30},
    {kSubtitleId, L"STATIC", L"泽沃尼亚音频 无损音质转换器", kStaticStyle, FontRole::kSubtitle, 25, 36, 260, 20},
    {0, L"STATIC", L"声卡输入（机架声音到手机）", kStaticStyle, FontRole::kBody, 24, 80, 360, 24},
    {kCaptureComboId, WC_COMBOBOXW, nullptr, kListStyle, FontRole::kBody, 24, 106, 572, 240},
    {0, L"STATIC", L"手机输出（手机声音到电脑）", kStaticStyle, FontRole::kBody, 24, 152, 360, 24},
    {kRenderComboId, WC_COMBOBOXW, nullptr, kListStyle, FontRole::kBody, 24, 178, 572, 240},
    {kAutostartCheckId, L"BUTTON", L"开机自启", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
     FontRole::kBody, 24, 233, 190, 28},
    {kSoundButtonId, L"BUTTON", L"声音", kPushStyle, FontRole::kBody, 224, 224, 100, 38},
    {kCancelButtonId, L"BUTTON", L"取消连接", kPushStyle, FontRole::kBody, 334, 224, 124, 38},
    {kConnectButtonId, L"BUTTON", L"立即连接", kPushStyle, FontRole::kBody, 468, 224, 128, 38},
    {kStatusLabelId, L"STATIC", kInitialStatusText, kStaticStyle, FontRole::kStatus, 24, 274, 572, 44},
};
constexpr size_t kControlCount = sizeof(kControls) / sizeof(kControls[0]);

constexpr UINT_PTR kContextMenuSubclassId = 1;
constexpr UINT_PTR kWheelFilterSubclassId = 2;

constexpr COLORREF kLightBackground = RGB(246, 248, 248);
constexpr COLORREF kDarkHeader = RGB(20, 28, 32);
constexpr COLORREF kBodyText = RGB(38, 48, 52);
constexpr COLORREF kTitleText = RGB(244, 248, 247);
constexpr COLORREF kSubtitleText = RGB(54, 211, 181);

struct FontSpec {
  int height;  // character height at 96 DPI
  int weight;
};
// Indexed by FontRole.
constexpr FontSpec kFonts[] = {{17, FW_NORMAL}, {25, FW_SEMIBOLD}, {16, FW_NORMAL}, {17, FW_SEMIBOLD}};
constexpr size_t kFontCount = sizeof(kFonts) / sizeof(kFonts[0]);

struct Face {
  HWND controls[kControlCount] = {};  // the two captions have no id of their own to find them by
  BrushHandle lightBrush;
  BrushHandle darkBrush;
  FontHandle fonts[kFontCount];
};
Face face;

HFONT FontFor(FontRole role) { return face.fonts[static_cast<size_t>(role)].get(); }

// Every control passes a right click to the main window, so that its menu opens wherever the
// click lands; the message names the main window as its source, as if it had been clicked.
LRESULT CALLBACK PassContextMenuToParent(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                         DWORD_PTR) {
  if (message == WM_CONTEXTMENU) {
    HWND parent = GetParent(control);
    if (parent != nullptr) return SendMessageW(parent, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(parent), lParam);
  }
  if (message == WM_NCDESTROY) RemoveWindowSubclass(control, PassContextMenuToParent, kContextMenuSubclassId);
  return DefSubclassProc(control, message, wParam, lParam);
}

// A closed drop-down list would step through its items under the wheel; scrolling the window's
// neighbourhood must never change a device choice.
LRESULT CALLBACK SwallowMouseWheel(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
  if (message == WM_MOUSEWHEEL) return 0;
  if (message == WM_NCDESTROY) RemoveWindowSubclass(list, SwallowMouseWheel, kWheelFilterSubclassId);
  return DefSubclassProc(list, message, wParam, lParam);
}

struct ButtonPaint {
  COLORREF fill;
  COLORREF text;
  COLORREF border;
};

// Disabled wins over pressed, and the accent button's border follows its fill, so a disabled
// Connect button shows no trace of the accent colour.
ButtonPaint PaintFor(bool accent, UINT itemState) {
  ButtonPaint paint{};
  if ((itemState & ODS_DISABLED) != 0) {
    paint.fill = RGB(224, 228, 228);
    paint.text = RGB(145, 151, 153);
  } else {
    bool pressed = (itemState & ODS_SELECTED) != 0;
    if (accent) {
      paint.fill = pressed ? RGB(26, 151, 128) : RGB(35, 184, 157);
    } else {
      paint.fill = pressed ? RGB(211, 219, 219) : RGB(231, 236, 236);
    }
    paint.text = accent ? RGB(255, 255, 255) : RGB(35, 45, 49);
  }
  paint.border = accent ? paint.fill : RGB(198, 207, 207);
  return paint;
}

}  // namespace

void CreateMainControls(HWND window) {
  face.lightBrush.reset(CreateSolidBrush(kLightBackground));
  face.darkBrush.reset(CreateSolidBrush(kDarkHeader));
  HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
  for (size_t i = 0; i < kControlCount; ++i) {
    const ControlSpec& row = kControls[i];
    HWND control = CreateWindowExW(0, row.className, row.text, row.style, row.x, row.y, row.width,
                                   row.height, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.id)),
                                   instance, nullptr);
    face.controls[i] = control;
    if (control == nullptr) continue;
    SetWindowSubclass(control, PassContextMenuToParent, kContextMenuSubclassId, 0);
    // A subclass of its own rather than a replaced window procedure: the two subclasses of a
    // list then work whichever is installed first.
    if (row.id == kCaptureComboId || row.id == kRenderComboId) {
      SetWindowSubclass(control, SwallowMouseWheel, kWheelFilterSubclassId, 0);
    }
  }
  CreateFonts();
  LayoutControls();
  // Through the setter, so that the text the label shows and the one the program reports
  // (the exit line, diagnostics) are the same from the start.
  SetStatusText(kInitialStatusText, StatusClass::Plain);
}

void CreateFonts() {
  // The old fonts go only once no control holds them any more, at the end of this call.
  FontHandle previous[kFontCount];
  for (size_t i = 0; i < kFontCount; ++i) {
    previous[i] = std::move(face.fonts[i]);
    face.fonts[i].reset(CreateFontW(-Scaled(kFonts[i].height), 0, 0, 0, kFonts[i].weight, FALSE, FALSE, FALSE,
                                    DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI"));
  }
  for (size_t i = 0; i < kControlCount; ++i) {
    if (face.controls[i] == nullptr) continue;
    SendMessageW(face.controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(kControls[i].font)), TRUE);
  }
}

void LayoutControls() {
  for (size_t i = 0; i < kControlCount; ++i) {
    if (face.controls[i] == nullptr) continue;
    const ControlSpec& row = kControls[i];
    SetWindowPos(face.controls[i], nullptr, Scaled(row.x), Scaled(row.y), Scaled(row.width),
                 Scaled(row.height), SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

void DeleteMainControlResources() {
  for (FontHandle& font : face.fonts) font.reset();
  face.lightBrush.reset();
  face.darkBrush.reset();
  for (HWND& control : face.controls) control = nullptr;
}

// One background for the window and every control on it: the captions, the check box and the
// status label paint the light brush, so the window does too.
bool EraseMainBackground(HWND window, HDC dc) {
  if (!face.lightBrush) return false;
  RECT client{};
  GetClientRect(window, &client);
  FillRect(dc, &client, face.lightBrush.get());
  return true;
}

HBRUSH ControlColour(int controlId, HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  switch (controlId) {
    case kStatusLabelId: {
      SetTextColor(dc, StatusTextColor(CurrentStatusClass()));
      return face.lightBrush.get();
    }
    case kTitleId: SetTextColor(dc, kTitleText); return face.darkBrush.get();
    case kSubtitleId: SetTextColor(dc, kSubtitleText); return face.darkBrush.get();
    case kHeaderBandId: return face.darkBrush.get();
    default: SetTextColor(dc, kBodyText); return face.lightBrush.get();
  }
}

bool IsOwnerDrawnButton(int controlId) {
  return controlId == kConnectButtonId || controlId == kCancelButtonId || controlId == kSoundButtonId;
}

LRESULT DrawOwnerButton(const DRAWITEMSTRUCT& item) {
  HDC dc = item.hDC;
  const RECT& area = item.rcItem;
  ButtonPaint paint = PaintFor(item.CtlID == static_cast<UINT>(kConnectButtonId), item.itemState);

  {
    BrushHandle fill(CreateSolidBrush(paint.fill));
    PenHandle border(CreatePen(PS_SOLID, 1, paint.border));
    SelectedObject brushInUse(dc, fill.get());
    SelectedObject penInUse(dc, border.get());
    int corner = Scaled(12);
    RoundRect(dc, area.left, area.top, area.right, area.bottom, corner, corner);
  }

  wchar_t text[64] = {};
  GetWindowTextW(item.hwndItem, text, 64);
  RECT textArea = area;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, paint.text);
  SelectedObject fontInUse(dc, FontFor(FontRole::kBody));
  DrawTextW(dc, text, -1, &textArea, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  return TRUE;
}

void OnDpiChanged(HWND window, int dpi, const RECT* suggested) {
  windowState.dpi = dpi;
  if (suggested != nullptr) {
    SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  CreateFonts();
  LayoutControls();
  InvalidateRect(window, nullptr, TRUE);
}

}  // namespace varn
