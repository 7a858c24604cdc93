// The connect request record's defaults and the log texts of its endpoints, byte for byte.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "routes/connect_request.h"

namespace {

using varn::ConnectRequest;
using varn::DeviceIdentity;

TEST(ConnectRequest, DefaultIsAManualConnectThatSwitchesTwiceAndCarriesNothing) {
  ConnectRequest request;
  EXPECT_EQ(request.kind, varn::OperationKind::ManualConnect);
  EXPECT_EQ(request.connectCount, 2);
  for (const DeviceIdentity* endpoint :
       {&request.capture, &request.render, &request.bridgeCapture, &request.bridgeRender}) {
    EXPECT_TRUE(endpoint->name.empty());
    EXPECT_TRUE(endpoint->id.empty());
  }
  for (bool flag : {request.captureFollowsDefault, request.renderFollowsDefault,
                    request.showErrorBox, request.closeStaleRoutes, request.showBalloon}) {
    EXPECT_FALSE(flag);
  }
  for (const std::wstring* text :
       {&request.lastCaptureResolved, &request.lastRenderResolved,
        &request.lastBridgeCaptureResolved, &request.lastBridgeRenderResolved,
        &request.progressText, &request.successText, &request.successBalloonTitle,
        &request.successBalloonText, &request.failureBalloonTitle, &request.failureBalloonText}) {
    EXPECT_TRUE(text->empty());
  }
}

TEST(ConnectRequest, DescribeIdentityShowsWhatIsKnown) {
  struct Case {
    DeviceIdentity identity;
    std::wstring expected;
  };
  const std::wstring id = L"{0.0.1.00000000}.{8d3c6f2a-51b0-4c7e-9a61-0c5a1e7d2b01}";
  const std::vector<Case> cases = {
      {{L"线路输入 (HD Audio)", id}, L"线路输入 (HD Audio)[" + id + L"]"},
      {{L"线路输入 (HD Audio)", L""}, L"线路输入 (HD Audio)"},
      {{L"", L"x"}, L"x"},
      {{L"", L""}, L"(空)"},
      // Data, not a format: directives stay literal.
      {{L"100% %s %d", L"%n"}, L"100% %s %d[%n]"},
  };
  for (const Case& c : cases) EXPECT_EQ(varn::DescribeIdentity(c.identity), c.expected);

  // Far beyond the 2047 characters of the formatter: nothing is cut.
  std::wstring longName(3000, L'名');
  EXPECT_EQ(varn::DescribeIdentity({longName, L"x"}), longName + L"[x]");
}

TEST(ConnectRequest, DescribeRoutesOfAnEmptySelection) {
  EXPECT_EQ(varn::DescribeRoutes(ConnectRequest()),
            L"①(空)→(空) ②(空)→(空) 跟随默认(源=0 目标=0)");
}

TEST(ConnectRequest, DescribeRoutesReadsEachEndpointInRouteOrder) {
  ConnectRequest request;
  request.capture = {L"线路输入 (HD Audio)", L"{cap}"};
  request.render = {L"耳机 100%", L""};
  request.bridgeCapture = {L"", L"{varn-in}"};
  request.bridgeRender = {L"VARN播放 (USB Audio VARN)", L"{varn-out}"};
  request.captureFollowsDefault = true;
  request.lastCaptureResolved = L"{not shown}";
  request.successText = L"not shown";
  EXPECT_EQ(varn::DescribeRoutes(request),
            L"①线路输入 (HD Audio)[{cap}]→VARN播放 (USB Audio VARN)[{varn-out}]"
            L" ②{varn-in}→耳机 100% 跟随默认(源=1 目标=0)");

  request.captureFollowsDefault = false;
  request.renderFollowsDefault = true;
  const std::wstring suffix = L"耳机 100% 跟随默认(源=0 目标=1)";
  std::wstring text = varn::DescribeRoutes(request);
  ASSERT_GE(text.size(), suffix.size());
  EXPECT_EQ(text.substr(text.size() - suffix.size()), suffix);
}

}  // namespace
