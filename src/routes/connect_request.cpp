#include "routes/connect_request.h"

#include "base/text.h"

namespace varn {

std::wstring DescribeIdentity(const DeviceIdentity& identity) {
  if (!identity.name.empty() && !identity.id.empty()) {
    return identity.name + L"[" + identity.id + L"]";
  }
  if (!identity.name.empty()) return identity.name;
  if (!identity.id.empty()) return identity.id;
  return L"(空)";
}

// Names and ids are joined rather than formatted: they are data (a "%" in a device name must
// stay literal), and a formatted line would be cut at the formatter's length limit.
std::wstring DescribeRoutes(const ConnectRequest& request) {
  return L"①" + DescribeIdentity(request.capture) + L"→" + DescribeIdentity(request.bridgeRender) +
         L" ②" + DescribeIdentity(request.bridgeCapture) + L"→" + DescribeIdentity(request.render) +
         FormatText(L" 跟随默认(源=%d 目标=%d)", request.captureFollowsDefault ? 1 : 0,
                    request.renderFollowsDefault ? 1 : 0);
}

}  // namespace varn
