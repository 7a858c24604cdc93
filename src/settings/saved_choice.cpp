#include "settings/saved_choice.h"

#include "settings/settings.h"

namespace varn {

// A bare id comes from data stored without the prefix; it is honoured by id only, since there
// is no saying that the name stored beside it belongs to it.
SavedSelection ParseSavedSelection(const std::wstring& text) {
  const std::wstring prefix = kSavedDevicePrefix;
  if (text.empty() || text == kSavedDefault) return SavedSelection();
  if (text.compare(0, prefix.size(), prefix) == 0) return SavedSelection{true, text.substr(prefix.size())};
  return SavedSelection{false, text};
}

std::wstring MakeSavedSelection(int itemIndex, const std::wstring& id) {
  return itemIndex > 0 ? DeviceChoice(id) : std::wstring(kSavedDefault);
}

std::wstring DeviceChoice(const std::wstring& id) { return kSavedDevicePrefix + id; }

namespace {

const wchar_t* ChoiceValue(ChoiceSide side) { return side == ChoiceSide::Capture ? kCaptureIdValue : kRenderIdValue; }
const wchar_t* NameValue(ChoiceSide side) { return side == ChoiceSide::Capture ? kCaptureNameValue : kRenderNameValue; }

}  // namespace

std::wstring LoadChoice(ChoiceSide side) { return ReadSettingString(ChoiceValue(side)); }
std::wstring LoadChoiceName(ChoiceSide side) { return ReadSettingString(NameValue(side)); }
void SaveChoice(ChoiceSide side, const std::wstring& choice) { WriteSettingString(ChoiceValue(side), choice); }
void SaveChoiceName(ChoiceSide side, const std::wstring& name) { WriteSettingString(NameValue(side), name); }

}  // namespace varn
