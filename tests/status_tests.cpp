// The status line's log: a text spanning lines stays one record, and a repeated text is logged
// again only after a minute.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "support/test_support.h"
#include "ui/status.h"

using namespace testing_support;

namespace {

TEST(StatusLine, LogsEachNewTextAndARepeatOnceAMinute) {
  TempDir dir;
  varn::OpenLog(dir / L"VARNListenFix.exe");
  struct Step {
    const wchar_t* text;
    DWORD tick;
    bool logged;
  };
  const Step steps[] = {
      {L"● 正在初始化...", 1000, true},
      {L"● 正在初始化...", 1000 + 30000, false},
      {L"● 正在初始化...", 1000 + 59999, false},
      {L"● 正在初始化...", 1000 + 60000, true},
      {L"正在连接...", 1000 + 60001, true},
      {L"● 正在初始化...", 1000 + 60002, true},  // back to an earlier text: new again
      {L"第一行\r\n第二行", 0xFFFFFFF0u, true},
      {L"第一行\r\n第二行", 0x10u, false},  // 32 ms later, across the tick count's wrap
      {L"第一行\r\n第二行", 0xFFFFFFF0u + 60000u, true},
  };
  std::vector<std::string> expected;
  for (const Step& step : steps) {
    varn::SetStatusTextAt(step.text, step.tick);
    EXPECT_EQ(varn::CurrentStatusText(), step.text);
    if (step.logged) expected.push_back("[INFO ] [app] " + Utf8(step.text));
  }
  std::vector<std::string> logged;
  for (const std::string& line : SplitCrLfLines(ReadBytes(varn::LogFilePath()))) logged.push_back(line.substr(24));
  for (std::string& line : expected) {
    size_t lineBreak = line.find("\r\n");
    if (lineBreak != std::string::npos) line.replace(lineBreak, 2, " \xEF\xBD\x9C ");
  }
  EXPECT_EQ(logged, expected);
}

}  // namespace
