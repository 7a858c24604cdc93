// Bounded wide formatting and error code texts.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "base/scoped_lock.h"
#include "base/text.h"

namespace {

TEST(FormatText, ConversionsInUseKeepTheirMicrosoftMeaning) {
  // "%s" in a wide format takes a wide string, Chinese included.
  EXPECT_EQ(varn::FormatText(L"操作完成 [%s] 结果=%s%s", L"手动连接", L"成功", L"，当前在侦听"),
            L"操作完成 [手动连接] 结果=成功，当前在侦听");
  EXPECT_EQ(varn::FormatText(L"%d|%lu|%llu|%08lX|%04u-%02u", -5, 4000000000UL,
                             18446744073709551615ULL, 0xBEEFUL, 7u, 3u),
            L"-5|4000000000|18446744073709551615|0000BEEF|0007-03");
  EXPECT_EQ(varn::FormatText(L"耗时=%llums args=%s", 3012ULL, L"/Enable \"{0.0.1}\""),
            L"耗时=3012ms args=/Enable \"{0.0.1}\"");
  EXPECT_EQ(varn::FormatText(L"no arguments 100%%"), L"no arguments 100%");
}

TEST(FormatText, OutputIsCutAt2047Characters) {
  struct Case {
    size_t inputLength;
    size_t expectedLength;
  };
  const Case cases[] = {{0, 0}, {2046, 2046}, {2047, 2047}, {2048, 2047}, {100000, 2047}};
  for (const Case& c : cases) {
    std::wstring input(c.inputLength, L'字');
    std::wstring result = varn::FormatText(L"%s", input.c_str());
    EXPECT_EQ(result.size(), c.expectedLength) << "input " << c.inputLength;
    EXPECT_EQ(result, input.substr(0, c.expectedLength));
  }
  // Text before the argument counts against the same limit.
  std::wstring long1(3000, L'a');
  std::wstring result = varn::FormatText(L"prefix %s", long1.c_str());
  EXPECT_EQ(result.size(), 2047u);
  EXPECT_EQ(result.substr(0, 7), L"prefix ");
}

TEST(FormatErrorCode, SuccessSystemTextAndUnknownCodes) {
  EXPECT_EQ(varn::FormatErrorCode(0), L"0x00000000(成功)");

  std::wstring notFound = varn::FormatErrorCode(ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(notFound.substr(0, 11), L"0x00000002(");
  EXPECT_EQ(notFound.back(), L')');
  EXPECT_GT(notFound.size(), 13u) << "the system has a text for this code";
  EXPECT_EQ(notFound.find(L"未知"), std::wstring::npos);
  EXPECT_EQ(notFound.find_first_of(L"\r\n"), std::wstring::npos) << "trailing break removed";

  // An HRESULT prints as its 32-bit value.
  EXPECT_EQ(varn::FormatErrorCode(0x80070005u).substr(0, 11), L"0x80070005(");
  // Codes without a system text.
  EXPECT_EQ(varn::FormatErrorCode(0x2000FFFFu), L"0x2000FFFF(未知)");
  EXPECT_EQ(varn::FormatErrorCode(0xDEADBEEFu), L"0xDEADBEEF(未知)");
}

TEST(Utf16ToUtf8, EncodesEveryRangeAndReplacesLoneSurrogates) {
  struct Case {
    std::wstring input;
    std::string expected;
  };
  const Case cases[] = {
      {L"", ""},
      {L"A~", "A~"},
      {L"\u00E9", "\xC3\xA9"},
      {L"中", "\xE4\xB8\xAD"},
      {L"\U0001F600", "\xF0\x9F\x98\x80"},
      {std::wstring(1, static_cast<wchar_t>(0xD800)), "\xEF\xBF\xBD"},
      {std::wstring(1, static_cast<wchar_t>(0xDC00)) + L"x", "\xEF\xBF\xBD" "x"},
      {std::wstring{static_cast<wchar_t>(0xD800), static_cast<wchar_t>(0xD800),
                    static_cast<wchar_t>(0xDC00)},
       "\xEF\xBF\xBD\xF0\x90\x80\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(varn::Utf16ToUtf8(c.input), c.expected);
}

}  // namespace

namespace {

SRWLOCK guarded = SRWLOCK_INIT;

DWORD WINAPI TryTakeGuarded(void*) {
  if (!TryAcquireSRWLockExclusive(&guarded)) return 0;
  ReleaseSRWLockExclusive(&guarded);
  return 1;
}

DWORD TryFromOtherThread() {
  HANDLE thread = CreateThread(nullptr, 0, TryTakeGuarded, nullptr, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  DWORD taken = 2;
  GetExitCodeThread(thread, &taken);
  CloseHandle(thread);
  return taken;
}

TEST(ScopedExclusiveLock, HoldsTheLockForExactlyItsScope) {
  {
    varn::ScopedExclusiveLock scope(guarded);
    EXPECT_EQ(TryFromOtherThread(), 0u) << "held inside the scope";
  }
  EXPECT_EQ(TryFromOtherThread(), 1u) << "released at its end";
}

}  // namespace
