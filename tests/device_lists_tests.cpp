// The decisions behind the two device lists, without a window: how names are compared, which
// item a saved choice selects, and how a chosen endpoint is found again.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "ui/device_lists.h"

using testing_support::Utf8;
using varn::DeviceIdentity;

namespace {

TEST(DeviceNames, NormalizeDropsNumberingTrailingNumbersAndCase) {
  struct Row {
    const wchar_t* name;
    const wchar_t* normalized;
  };
  const Row rows[] = {
      {L"2- Speakers", L"speakers"},
      {L"  12_Speakers \t", L"speakers"},
      {L"3- 2- Speakers", L"speakers"},                    // a second prefix at the same place
      {L"扬声器 (2- USB Audio)", L"扬声器 (usb audio)"},   // after the opening parenthesis
      {L"扬声器 ( 2-  USB Audio)", L"扬声器 (usb audio)"},  // blanks around the number
      {L"Mic (3- USB Audio VARN) 2", L"mic (usb audio varn)"},
      {L"2 - Speakers", L"2 - speakers"},  // a blank between number and hyphen: no numbering
      {L"Line 2 In", L"line 2 in"},        // a number inside the name stays
      {L"2-", L""},                        // a bare numbering leaves nothing
      {L"Speakers 2", L"speakers"},
      {L"Speakers-2", L"speakers"},
      {L"Speakers _ - 10", L"speakers"},
      {L"Speakers2", L"speakers"},
      {L"12345", L""},
      {L"- 5", L""},  // the step back stops at the start of the text
      {L"  ", L""},
      {L"SPEAKERS (Phone Audio)", L"speakers (phone audio)"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Utf8(varn::NormalizeDeviceName(row.name)), Utf8(row.normalized)) << Utf8(row.name);
  }
}

// Items: 0 默认设备 (the default is the card), 1 mic-1, 2 mic-2, 3 card; the bridge has none.
const std::vector<DeviceIdentity> kCaptureEntries = {
    {L"默认设备", L"{card}"},
    {L"Line In (USB Mic)", L"{mic-1}"},
    {L"麦克风 (USB Audio VARN)", L"{bridge}"},
    {L"Line In (2- USB Mic)", L"{mic-2}"},
    {L"线路输入", L"{card}"},
};

TEST(DeviceLists, SavedChoiceSelectsItsItem) {
  const std::vector<DeviceIdentity> onlyBridge = {{L"默认设备", L"{bridge}"},
                                                  {L"扬声器 (USB Audio VARN)", L"{bridge}"}};
  struct Row {
    const char* what;
    const std::vector<DeviceIdentity>& entries;
    const wchar_t* savedChoice;
    const wchar_t* savedName;
    int item;
  };
  const Row rows[] = {
      {"id beats an earlier name match", kCaptureEntries, L"DEVICE:{mic-2}", L"Line In (USB Mic)", 2},
      {"first of several name matches", kCaptureEntries, L"DEVICE:{gone}", L"Line In (3- USB Mic) 2", 1},
      {"the default endpoint's own item, not the default item", kCaptureEntries, L"DEVICE:{card}", L"", 3},
      {"absent device without a name", kCaptureEntries, L"DEVICE:{gone}", L"", -1},
      {"absent device, name matches nothing", kCaptureEntries, L"DEVICE:{gone}", L"Headset", -1},
      {"bridge never matched by name", kCaptureEntries, L"DEVICE:{gone}", L"麦克风 (USB Audio VARN)", -1},
      {"bridge never matched by id", kCaptureEntries, L"DEVICE:{bridge}", L"", -1},
      {"bare id present", kCaptureEntries, L"{mic-2}", L"Line In (USB Mic)", 2},
      {"bare id never matched by name", kCaptureEntries, L"{gone}", L"Line In (USB Mic)", -1},
      {"DEFAULT compares nothing", kCaptureEntries, L"DEFAULT", L"Line In (USB Mic)", 0},
      {"nothing saved", kCaptureEntries, L"", L"Line In (USB Mic)", 0},
      {"empty list", {}, L"", L"", -1},
      {"only the default and the bridge", onlyBridge, L"", L"", 0},
      {"only the default and the bridge, bridge name saved", onlyBridge, L"DEVICE:{gone}",
       L"扬声器 (USB Audio VARN)", -1},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(varn::ChooseSavedItem(row.entries, row.savedChoice, row.savedName), row.item) << row.what;
  }
}

TEST(DeviceLists, ChosenEndpointFoundAgainByIdThenName) {
  struct Row {
    const char* what;
    const wchar_t* lastResolvedId;
    const wchar_t* savedName;
    const wchar_t* foundId;  // nullptr: none
  };
  const Row rows[] = {
      {"id, whatever the name", L"{mic-2}", L"Line In (USB Mic)", L"{mic-2}"},
      {"the default entry is not the endpoint", L"{card}", L"", L"{card}"},
      {"first name match when the id is gone", L"{gone}", L"line in (usb mic) 7", L"{mic-1}"},
      {"no name to go by", L"{gone}", L"", nullptr},
      {"the bridge is never taken by name", L"{gone}", L"麦克风 (2- USB Audio VARN)", nullptr},
      {"default entry's name is no endpoint's", L"{gone}", L"默认设备", nullptr},
  };
  for (const Row& row : rows) {
    std::optional<DeviceIdentity> found =
        varn::FindEndpointByIdOrName(kCaptureEntries, row.lastResolvedId, row.savedName);
    if (row.foundId == nullptr) {
      EXPECT_FALSE(found.has_value()) << row.what;
    } else {
      ASSERT_TRUE(found.has_value()) << row.what;
      EXPECT_EQ(Utf8(found->id), Utf8(row.foundId)) << row.what;
      EXPECT_NE(found->name, L"默认设备") << row.what;
    }
  }
}

}  // namespace
