#pragma once
// One audio endpoint as the rest of the program passes it around.

#include <string>

namespace varn {

// A friendly name and a Core Audio endpoint id. An empty id means "no endpoint". Ids are
// compared exactly; names only serve display, logs and recognising an endpoint again.
struct DeviceIdentity {
  std::wstring name;
  std::wstring id;
};

}  // namespace varn
