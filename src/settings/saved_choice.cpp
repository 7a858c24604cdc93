#include "settings/saved_choice.h"

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
  return itemIndex > 0 ? kSavedDevicePrefix + id : std::wstring(kSavedDefault);
}

}  // namespace varn
