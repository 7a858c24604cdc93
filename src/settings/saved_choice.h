#pragma once
// How a choice of device is stored in the settings ("CaptureId", "RenderId"): "DEFAULT" for
// the system default, "DEVICE:" + endpoint id for one endpoint. The device lists, the
// connect and the device watch all read and write this form.

#include <string>

namespace varn {

// A stored choice: "DEFAULT", "DEVICE:" + id, empty, or (from older data) a bare id.
struct SavedSelection {
  bool isDevice = false;  // stored as "DEVICE:" + id
  std::wstring id;        // the endpoint id; for a bare id isDevice stays false
};
constexpr wchar_t kSavedDefault[] = L"DEFAULT";
constexpr wchar_t kSavedDevicePrefix[] = L"DEVICE:";

SavedSelection ParseSavedSelection(const std::wstring& text);
// "DEVICE:" + id for an item above 0, "DEFAULT" otherwise.
std::wstring MakeSavedSelection(int itemIndex, const std::wstring& id);
// "DEVICE:" + id: the choice of one endpoint.
std::wstring DeviceChoice(const std::wstring& id);

// The two chosen sides: the sound card input ("CaptureId", "CaptureName") and the phone output
// ("RenderId", "RenderName").
enum class ChoiceSide { Capture, Render };
// The stored choice text of a side (empty when none was ever stored) and the stored name of its
// device.
std::wstring LoadChoice(ChoiceSide side);
std::wstring LoadChoiceName(ChoiceSide side);
// The choice as MakeSavedSelection or DeviceChoice made it.
void SaveChoice(ChoiceSide side, const std::wstring& choice);
void SaveChoiceName(ChoiceSide side, const std::wstring& name);

}  // namespace varn
