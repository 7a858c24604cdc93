// Endpoint lists, defaults, bridge recognition and single-endpoint state, read through Core
// Audio from the simulated world.

#include <gtest/gtest.h>

#include "audio/endpoints.h"
#include "support/sim_fixture.h"
#include "world.h"

using namespace testing_support;
using varn::DeviceIdentity;

namespace {

class Endpoints : public SimulatedWorldTest {
 protected:
  // Replaces the world with these capture endpoints (all active, the first the default).
  void UseCaptureWorld(const std::vector<std::pair<std::wstring, std::wstring>>& aliasAndName) {
    audiosim::World world = audiosim::DefaultWorld();
    std::erase_if(world.endpoints, [](const audiosim::Endpoint& e) { return e.flow == audiosim::kCapture; });
    for (const auto& [alias, name] : aliasAndName) {
      audiosim::Endpoint e;
      e.flow = audiosim::kCapture;
      e.id = audiosim::NewEndpointId(audiosim::kCapture);
      e.alias = alias;
      e.device = alias;
      e.name = name;
      world.endpoints.push_back(e);
    }
    // The default is the first capture endpoint.
    for (const audiosim::Endpoint& e : world.endpoints) {
      if (e.flow != audiosim::kCapture) continue;
      for (std::wstring& role : world.defaults[audiosim::kCapture]) role = e.id;
      break;
    }
    ASSERT_TRUE(audiosim::SaveWorld(world));
  }

  static std::vector<std::wstring> Names(const std::vector<DeviceIdentity>& list) {
    std::vector<std::wstring> names;
    for (const DeviceIdentity& e : list) names.push_back(e.name);
    return names;
  }
};

TEST_F(Endpoints, ListsStartWithTheDefaultEntryAndFollowEnumerationOrder) {
  std::vector<DeviceIdentity> capture = varn::ListEndpoints(varn::Flow::Capture);
  ASSERT_EQ(capture.size(), 3u);
  EXPECT_EQ(capture[0].name, L"默认设备");
  EXPECT_EQ(capture[0].id, Id(L"card-in"));
  EXPECT_EQ(capture[1].name, L"线路输入 (High Definition Audio Device)");
  EXPECT_EQ(capture[1].id, Id(L"card-in"));
  EXPECT_EQ(capture[2].id, Id(L"bridge-in"));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));

  // The bridge as the default: listed twice, found under its own name.
  ASSERT_EQ(Audiosim(L"default bridge-out"), 0);
  std::vector<DeviceIdentity> render = varn::ListEndpoints(varn::Flow::Render);
  ASSERT_EQ(render.size(), 3u);
  EXPECT_EQ(render[0].id, Id(L"bridge-out"));
  std::optional<DeviceIdentity> bridge = varn::FindBridge(render);
  ASSERT_TRUE(bridge.has_value());
  EXPECT_EQ(bridge->name, L"扬声器 (USB Audio VARN)");
  EXPECT_EQ(bridge->id, Id(L"bridge-out"));

  // Roles with different defaults: only the multimedia role counts.
  ASSERT_EQ(Audiosim(L"default phone-out multimedia"), 0);
  ASSERT_EQ(Audiosim(L"default bridge-in multimedia"), 0);
  audiosim::World world;
  ASSERT_TRUE(audiosim::LoadWorld(world));
  for (int flow : {audiosim::kRender, audiosim::kCapture}) {
    ASSERT_EQ(world.defaults[flow][audiosim::kConsole], world.defaults[flow][audiosim::kCommunications]);
    ASSERT_NE(world.defaults[flow][audiosim::kConsole], world.defaults[flow][audiosim::kMultimedia]);
  }
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Render), Id(L"phone-out"));
  EXPECT_EQ(varn::ListEndpoints(varn::Flow::Render).at(0).id, Id(L"phone-out"));
  EXPECT_EQ(varn::DefaultEndpointId(varn::Flow::Capture), Id(L"bridge-in"));
  EXPECT_EQ(varn::ListEndpoints(varn::Flow::Capture).at(0).id, Id(L"bridge-in"));

  // No default entry is ever taken for the bridge, even if its name were the bridge's.
  EXPECT_FALSE(varn::FindBridge({{L"USB Audio VARN", L"x"}}).has_value());
  EXPECT_FALSE(varn::FindBridge({}).has_value());
}

TEST_F(Endpoints, BridgeIsRecognisedByTheExactTextOnlyAndTheFirstWins) {
  UseCaptureWorld({{L"a", L"麦克风 (usb audio varn)"},
                   {L"b", L"Line (Card)"},
                   {L"c", L"麦克风 (USB Audio VARN)"},
                   {L"d", L"麦克风 (2- USB Audio VARN)"}});
  std::vector<DeviceIdentity> list = varn::ListEndpoints(varn::Flow::Capture);
  ASSERT_EQ(list.size(), 5u);
  std::optional<DeviceIdentity> bridge = varn::FindBridge(list);
  ASSERT_TRUE(bridge.has_value());
  EXPECT_EQ(bridge->id, Id(L"c")) << "lower case is no bridge; the first real one wins";
  EXPECT_TRUE(varn::NameIsBridge(L"USB Audio VARN"));
  EXPECT_TRUE(varn::NameIsBridge(L"x USB Audio VARNy"));
  EXPECT_FALSE(varn::NameIsBridge(L"USB Audio VAR N"));
  EXPECT_FALSE(varn::NameIsBridge(L""));
}

TEST_F(Endpoints, ResolveSelectionCountsOnlyNonBridgeEntries) {
  UseCaptureWorld({{L"bridge", L"麦克风 (USB Audio VARN)"}, {L"a", L"Line A"}, {L"b", L"Line B"}});
  std::vector<DeviceIdentity> list = varn::ListEndpoints(varn::Flow::Capture);
  ASSERT_EQ(Names(list), (std::vector<std::wstring>{L"默认设备", L"麦克风 (USB Audio VARN)", L"Line A", L"Line B"}));

  DeviceIdentity second = varn::ResolveSelection(list, 2, varn::Flow::Capture);
  EXPECT_EQ(second.name, L"Line B");
  EXPECT_EQ(second.id, Id(L"b"));
  EXPECT_EQ(varn::ResolveSelection(list, 1, varn::Flow::Capture).id, Id(L"a"));
  for (int index : {3, 99, -1}) {
    DeviceIdentity none = varn::ResolveSelection(list, index, varn::Flow::Capture);
    EXPECT_TRUE(none.name.empty() && none.id.empty()) << index;
  }
  EXPECT_TRUE(varn::ResolveSelection({}, 0, varn::Flow::Capture).id.empty());

  // Index 0 reads the default now, not when the list was made.
  EXPECT_EQ(varn::ResolveSelection(list, 0, varn::Flow::Capture).name, L"麦克风 (USB Audio VARN)");
  ASSERT_EQ(Audiosim(L"default b"), 0);
  DeviceIdentity followed = varn::ResolveSelection(list, 0, varn::Flow::Capture);
  EXPECT_EQ(followed.id, Id(L"b"));
  EXPECT_EQ(followed.name, L"Line B");
  // A default that the old list does not know keeps the default entry's name.
  ASSERT_EQ(Audiosim(L"replug b"), 0);
  ASSERT_EQ(Audiosim(L"default b"), 0);
  followed = varn::ResolveSelection(list, 0, varn::Flow::Capture);
  EXPECT_EQ(followed.id, Id(L"b"));
  EXPECT_EQ(followed.name, L"默认设备");
}

TEST_F(Endpoints, ActiveDisabledAndMuteStateOfSingleEndpoints) {
  const std::wstring bridgeIn = Id(L"bridge-in"), cardIn = Id(L"card-in");
  EXPECT_TRUE(varn::IsActiveEndpoint(bridgeIn, varn::Flow::Capture));
  EXPECT_FALSE(varn::IsActiveEndpoint(bridgeIn, varn::Flow::Render)) << "wrong flow";
  EXPECT_FALSE(varn::IsActiveEndpoint(L"", varn::Flow::Capture));
  EXPECT_TRUE(varn::FindDisabledBridgeId(varn::Flow::Capture).empty());

  ASSERT_EQ(Audiosim(L"disable bridge-in"), 0);
  EXPECT_FALSE(varn::IsActiveEndpoint(bridgeIn, varn::Flow::Capture));
  EXPECT_FALSE(varn::FindBridge(varn::ListEndpoints(varn::Flow::Capture)).has_value());
  EXPECT_EQ(varn::FindDisabledBridgeId(varn::Flow::Capture), bridgeIn);
  EXPECT_TRUE(varn::FindDisabledBridgeId(varn::Flow::Render).empty());
  EXPECT_TRUE(varn::IsDisabledEndpoint(bridgeIn, varn::Flow::Capture));
  EXPECT_FALSE(varn::IsDisabledEndpoint(cardIn, varn::Flow::Capture));
  EXPECT_FALSE(varn::IsDisabledEndpoint(L"", varn::Flow::Capture));

  // A bridge render endpoint whose jack is empty is neither active nor disabled.
  const std::wstring bridgeOut = Id(L"bridge-out");
  ASSERT_EQ(Audiosim(L"jack bridge-out out"), 0);
  EXPECT_FALSE(varn::IsActiveEndpoint(bridgeOut, varn::Flow::Render));
  EXPECT_TRUE(varn::FindDisabledBridgeId(varn::Flow::Render).empty());
  EXPECT_FALSE(varn::IsDisabledEndpoint(bridgeOut, varn::Flow::Render));

  EXPECT_EQ(varn::ReadEndpointMute(cardIn), std::make_pair(true, false));
  ASSERT_EQ(Audiosim(L"mute card-in"), 0);
  EXPECT_EQ(varn::ReadEndpointMute(cardIn), std::make_pair(true, true));
  ASSERT_EQ(Audiosim(L"unplug card"), 0);
  EXPECT_EQ(varn::ReadEndpointMute(cardIn), std::make_pair(false, false));
  EXPECT_FALSE(varn::IsActiveEndpoint(cardIn, varn::Flow::Capture));
  EXPECT_FALSE(varn::IsDisabledEndpoint(cardIn, varn::Flow::Capture)) << "unplugged is not disabled";
  EXPECT_EQ(varn::ReadEndpointMute(L"{no such endpoint}"), std::make_pair(false, false));

  // Nothing active and no default: the default entry keeps its place, with no id.
  std::vector<DeviceIdentity> capture = varn::ListEndpoints(varn::Flow::Capture);
  ASSERT_EQ(capture.size(), 1u);
  EXPECT_EQ(capture[0].name, L"默认设备");
  EXPECT_TRUE(capture[0].id.empty());
  EXPECT_TRUE(varn::DefaultEndpointId(varn::Flow::Capture).empty());
}

}  // namespace
