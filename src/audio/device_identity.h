#pragma once
// One audio endpoint as the rest of the program passes it around.

#include <string>
#include <vector>

namespace varn {

// A data flow, numbered as the platform numbers it (eRender, eCapture), so that it passes
// straight to Core Audio.
enum class Flow : int {
  Render = 0,
  Capture = 1,
};

// A friendly name and a Core Audio endpoint id. An empty id means "no endpoint". Ids are
// compared exactly; names only serve display, logs and recognising an endpoint again.
struct DeviceIdentity {
  std::wstring name;
  std::wstring id;
};

// Two endpoint lists alike entry by entry, names included: a renamed endpoint or a new default
// (entry 0 of a list) is a change of the list.
inline bool SameEntries(const std::vector<DeviceIdentity>& a, const std::vector<DeviceIdentity>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].id != b[i].id || a[i].name != b[i].name) return false;
  }
  return true;
}

}  // namespace varn
