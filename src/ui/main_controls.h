#pragma once
// The face of the main window: its twelve controls, their fonts, colours and places at the
// window's DPI, and the drawing of the three push buttons. Window thread only.

#include <windows.h>

#include <string>

namespace varn {

// The text the status label starts with.
constexpr wchar_t kInitialStatusText[] = L"请选择设备后应用。";

// Creates the brushes and the controls of the main window, then fonts and places for the
// window's DPI (windowState.dpi), and shows the initial status text.
void CreateMainControls(HWND window);
// (Re)creates the four fonts for the window's DPI and gives every control its font.
void CreateFonts();
// Places every control at the window's DPI.
void LayoutControls();
// Deletes the fonts and brushes (window destruction).
void DeleteMainControlResources();

// WM_ERASEBKGND of the main window: the light background the controls stand on; false (the
// default erase) before the brushes exist.
bool EraseMainBackground(HWND window, HDC dc);
// WM_CTLCOLORSTATIC: sets the text colour for the control and returns its background brush.
HBRUSH ControlColour(int controlId, HDC dc);
// Whether WM_DRAWITEM for this control is drawn here.
bool IsOwnerDrawnButton(int controlId);
// WM_DRAWITEM of an owner-drawn button; returns TRUE.
LRESULT DrawOwnerButton(const DRAWITEMSTRUCT& item);
// WM_DPICHANGED: the new DPI and the rectangle the system suggests for the window.
void OnDpiChanged(HWND window, int dpi, const RECT* suggested);

}  // namespace varn
