// The world model on its own: the file format and Windows' re-plug naming.

#include <gtest/gtest.h>

#include "world.h"

namespace {

TEST(WorldFile, SerializedWorldParsesBackUnchanged) {
  audiosim::World world = audiosim::DefaultWorld();
  world.plugTakesDefault = true;
  world.endpoints[0].listen = true;
  world.endpoints[0].listenTarget = world.endpoints[3].id;
  world.endpoints[1].volume = 0.4;
  world.endpoints[1].mute = true;
  world.endpoints[2].effectsOn = true;
  world.endpoints[3].enabled = false;
  world.endpoints[3].enableAtMs = 13400000000000ULL;
  world.endpoints[2].jackUnplugged = true;
  world.defaults[audiosim::kRender][audiosim::kCommunications].clear();
  // Text fields may hold what the file itself uses as separators.
  const std::wstring odd = L"Card\r\n2026 [ERROR]\tforged \\n \\";
  world.endpoints[1].name = odd;
  world.endpoints[1].device = L"dev\tice";
  std::string text = audiosim::SerializeWorld(world);

  audiosim::World back;
  ASSERT_TRUE(audiosim::ParseWorld(text, back));
  EXPECT_EQ(audiosim::SerializeWorld(back), text);
  EXPECT_TRUE(back.plugTakesDefault);
  EXPECT_EQ(back.endpoints[0].listenTarget, world.endpoints[3].id);
  EXPECT_EQ(back.endpoints[2].name, L"扬声器 (Phone Audio Adapter)");
  ASSERT_EQ(back.endpoints.size(), world.endpoints.size());
  EXPECT_EQ(back.endpoints[1].name, odd);
  EXPECT_EQ(back.endpoints[1].device, L"dev\tice");
  EXPECT_TRUE(back.endpoints[2].jackUnplugged);
  EXPECT_TRUE(back.defaults[audiosim::kRender][audiosim::kCommunications].empty());

  // Anything short of a whole file is no world.
  EXPECT_FALSE(audiosim::ParseWorld("", back));
  EXPECT_FALSE(audiosim::ParseWorld(text.substr(text.find("endpoint")), back));
  EXPECT_FALSE(audiosim::ParseWorld(text + "endpoint\tx\tsideways\n", back));
  EXPECT_FALSE(audiosim::ParseWorld(text + "endpoint\tx\trender\tcolour=red\n", back));
}

TEST(WorldNaming, ReplugNumbersTheDeviceLikeWindows) {
  struct Case {
    const wchar_t* before;
    const wchar_t* after;
  };
  const Case cases[] = {
      {L"扬声器 (USB Audio VARN)", L"扬声器 (2- USB Audio VARN)"},
      {L"扬声器 (2- USB Audio VARN)", L"扬声器 (3- USB Audio VARN)"},
      {L"扬声器 (9- USB Audio VARN)", L"扬声器 (10- USB Audio VARN)"},
      {L"Line (In) (Card)", L"Line (In) (2- Card)"},
      {L"Plain", L"2- Plain"},
  };
  for (const Case& c : cases) EXPECT_EQ(audiosim::NumberedName(c.before), c.after);
}

TEST(WorldDefaults, LosingTheDefaultChoosesTheNextActiveEndpoint) {
  audiosim::World world = audiosim::DefaultWorld();
  audiosim::Endpoint& phone = *audiosim::FindEndpoint(world, L"phone-out");
  audiosim::Endpoint& bridge = *audiosim::FindEndpoint(world, L"bridge-out");
  audiosim::SetEnabled(world, phone, false);
  for (const std::wstring& id : world.defaults[audiosim::kRender]) EXPECT_EQ(id, bridge.id);
  audiosim::SetPresent(world, L"bridge", false);
  for (const std::wstring& id : world.defaults[audiosim::kRender]) EXPECT_TRUE(id.empty());
  EXPECT_TRUE(world.defaults[audiosim::kCapture][0] == audiosim::FindEndpoint(world, L"card-in")->id)
      << "the other flow keeps its default";
  audiosim::SetEnabled(world, phone, true);
  for (const std::wstring& id : world.defaults[audiosim::kRender]) EXPECT_EQ(id, phone.id);
}

}  // namespace
