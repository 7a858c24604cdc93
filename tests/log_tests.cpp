// The log on real files: line format byte for byte, rotation, the fallback and logging-off
// paths, and writers on several threads at once.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log.h"
#include "support/patterns.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// The prefix of one record: date, time with milliseconds, level, tag. The message follows it.
const char kPrefix[] =
    R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3}) \[(TRACE|INFO |WARN |ERROR)\] \[([^\]]*)\] )";

struct Record {
  std::string level, tag, message;
};

std::vector<Record> ParseRecords(const std::string& bytes) {
  std::vector<Record> records;
  for (const std::string& line : SplitCrLfLines(bytes)) {
    std::vector<std::string> m;
    if (!SearchAtStart(line, kPrefix, &m)) {
      ADD_FAILURE() << "malformed log line: " << line.substr(0, 200);
      continue;
    }
    records.push_back({m[8], m[9], line.substr(m[0].size())});
  }
  return records;
}

std::string LogBytes() { return ReadBytes(varn::LogFilePath()); }

std::string Blob(size_t size, char fill) { return std::string(size, fill); }

class LogInDirectory : public ::testing::Test {
 protected:
  void SetUp() override { varn::OpenLog(dir / L"VARNListenFix.exe"); }
  std::wstring LogPath() const { return dir / L"VARNListenFix.log"; }
  TempDir dir;
};

TEST_F(LogInDirectory, RecordsHaveTheExactLineFormat) {
  ASSERT_TRUE(varn::IsLogEnabled());
  EXPECT_FALSE(varn::IsLogFallback());
  EXPECT_EQ(varn::LogFilePath(), LogPath());
  EXPECT_EQ(varn::LogDirectory(), dir.path());
  EXPECT_EQ(varn::LogThreshold(), varn::LOG_INFO);
  EXPECT_EQ(FileSize(LogPath()), 0u) << "opening leaves an empty file behind";

  varn::LogInfo(L"route", L"侦听路由 ① 已开启");
  varn::LogWarn(L"guard", L"warn text");
  varn::LogError(L"tool", L"error text");
  varn::WriteLog(varn::LOG_TRACE, L"app", L"never written");
  varn::WriteLog(42, L"dev", L"unknown level prints as INFO");
  varn::WriteLog(varn::LOG_WARN, nullptr, L"null tag");
  varn::LogApp(L"");

  std::string bytes = LogBytes();
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.compare(0, 2, "20"), 0) << "file starts with the date, no byte-order mark";
  EXPECT_EQ(bytes.find("\xEF\xBB\xBF"), std::string::npos);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");

  std::vector<Record> records = ParseRecords(bytes);
  ASSERT_EQ(records.size(), 6u);
  EXPECT_EQ(records[0].level, "INFO ");
  EXPECT_EQ(records[0].tag, "route");
  EXPECT_EQ(records[0].message, "\xE4\xBE\xA6\xE5\x90\xAC\xE8\xB7\xAF\xE7\x94\xB1 \xE2\x91\xA0 "
                                "\xE5\xB7\xB2\xE5\xBC\x80\xE5\x90\xAF");
  EXPECT_EQ(records[1].level, "WARN ");
  EXPECT_EQ(records[2].level, "ERROR");
  EXPECT_EQ(records[3].level, "INFO ");
  EXPECT_EQ(records[3].message, "unknown level prints as INFO");
  EXPECT_EQ(records[4].tag, "app");
  EXPECT_EQ(records[4].message, "null tag");
  EXPECT_EQ(records[5].tag, "app");
  EXPECT_EQ(records[5].message, "");
  // An empty message leaves the prefix followed directly by CR LF.
  EXPECT_EQ(bytes.substr(bytes.size() - 10), "] [app] \r\n");
}

// CTest runs this program at UTC+05:30 (TZ), where local time differs from UTC in both its
// hours and its minutes; the prefix itself runs at a bias of 0, where the two could not be told
// apart.
TEST_F(LogInDirectory, TimestampIsTheLocalTime) {
  SYSTEMTIME before, utc, after;
  GetLocalTime(&before);
  GetSystemTime(&utc);
  varn::LogInfo(L"app", L"now");
  GetLocalTime(&after);
  ASSERT_NE(before.wHour * 60 + before.wMinute, utc.wHour * 60 + utc.wMinute)
      << "this test needs a time zone other than UTC";
  std::string line = SplitCrLfLines(LogBytes()).at(0);
  char early[20], late[20];
  snprintf(early, sizeof early, "%04u-%02u-%02u %02u:%02u", before.wYear, before.wMonth, before.wDay,
           before.wHour, before.wMinute);
  snprintf(late, sizeof late, "%04u-%02u-%02u %02u:%02u", after.wYear, after.wMonth, after.wDay,
           after.wHour, after.wMinute);
  // The minute can roll over between the reads.
  std::string stamp = line.substr(0, 16);
  EXPECT_TRUE(stamp == early || stamp == late) << line << " / " << early;
}

TEST_F(LogInDirectory, MessagesAreWrittenLiterallyAndWhole) {
  const std::wstring directives = L"100% %s %d %n %08lX %ls %% {0}";
  varn::LogInfo(L"app", directives);
  std::wstring longMessage(100000, L'x');
  longMessage[0] = L'<';
  longMessage[99999] = L'>';
  varn::LogInfo(L"app", longMessage);

  std::string bytes = LogBytes();
  EXPECT_NE(bytes.find("[app] 100% %s %d %n %08lX %ls %% {0}\r\n"), std::string::npos);
  EXPECT_NE(bytes.find("[app] <" + std::string(99998, 'x') + ">\r\n"), std::string::npos);
}

TEST_F(LogInDirectory, EveryRecordIsOneLineWhateverItsTextCarries) {
  const std::string bar = " \xEF\xBD\x9C ";    // " ｜ "
  const std::string bad = "\xEF\xBF\xBD";      // U+FFFD
  struct Case {
    std::wstring message;
    std::string written;
  };
  const Case cases[] = {
      {L"\r\n2026-01-01 00:00:00.000 [ERROR] [app] forged",
       bar + "2026-01-01 00:00:00.000 [ERROR] [app] forged"},
      {L"a\rb\nc\n\rd\r\n", "a" + bar + "b" + bar + "c" + bar + bar + "d" + bar},
      {L"tab\tstays", "tab\tstays"},
      {std::wstring(L"n\0u\x1b[31m\x7f\x85\x9f", 11), "n" + bad + "u" + bad + "[31m" + bad + bad + bad},
      {L"\x2028\x2029\xa0\x7e\x20", bad + bad + "\xC2\xA0~ "},
  };
  for (const Case& c : cases) varn::LogInfo(L"dev", c.message);
  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), std::size(cases));
  for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].message, cases[i].written) << i;
}

TEST_F(LogInDirectory, UnpairedSurrogateBecomesReplacementCharacter) {
  std::wstring broken = L"a";
  broken.push_back(static_cast<wchar_t>(0xD83D));  // high half without its low half
  broken += L"b";
  std::wstring lowAlone(1, static_cast<wchar_t>(0xDE00));
  varn::LogInfo(L"app", broken);
  varn::LogInfo(L"app", lowAlone + L"c");
  varn::LogInfo(L"app", L"\U0001F600 paired");
  varn::LogInfo(L"app", L"after");

  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].message, "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(records[1].message, "\xEF\xBF\xBD" "c");
  EXPECT_EQ(records[2].message, "\xF0\x9F\x98\x80 paired");
  EXPECT_EQ(records[3].message, "after");
}

TEST_F(LogInDirectory, DeletedFileIsCreatedAgainByTheNextRecord) {
  varn::LogInfo(L"app", L"first");
  ASSERT_TRUE(DeleteFileW(LogPath().c_str()));
  varn::LogInfo(L"app", L"second");
  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "second");
}

// Rotation -----------------------------------------------------------------------------------

class LogRotation : public LogInDirectory {
 protected:
  void SetUp() override {}  // each test prepares files before opening the log
  std::wstring Gen(int n) const { return LogPath() + L"." + std::to_wstring(n); }
  void Open() { varn::OpenLog(dir / L"VARNListenFix.exe"); }
};

TEST_F(LogRotation, FirstRecordRotatesAFileOfExactlyFourMebibytes) {
  ASSERT_TRUE(WriteBytes(LogPath(), Blob(4194304, 'o')));
  Open();
  varn::LogInfo(L"app", L"fresh");
  EXPECT_EQ(FileSize(Gen(1)), 4194304u);
  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "fresh");
  EXPECT_FALSE(FileExists(Gen(2)));
}

TEST_F(LogRotation, OneByteBelowTheLimitIsNotRotated) {
  ASSERT_TRUE(WriteBytes(LogPath(), Blob(4194303, 'o')));
  Open();
  varn::LogInfo(L"app", L"appended");
  EXPECT_FALSE(FileExists(Gen(1)));
  std::string bytes = LogBytes();
  EXPECT_GT(bytes.size(), 4194303u);
  EXPECT_EQ(bytes.substr(bytes.size() - 10), "appended\r\n");
}

TEST_F(LogRotation, AllFiveGenerationsShiftAndTheOldestIsDropped) {
  ASSERT_TRUE(WriteBytes(LogPath(), Blob(4194304, 'c')));
  for (int n = 1; n <= 5; ++n) ASSERT_TRUE(WriteBytes(Gen(n), "generation " + std::to_string(n)));
  Open();
  varn::LogInfo(L"app", L"new");
  EXPECT_EQ(FileSize(Gen(1)), 4194304u);
  for (int n = 2; n <= 5; ++n) EXPECT_EQ(ReadBytes(Gen(n)), "generation " + std::to_string(n - 1));
  EXPECT_FALSE(FileExists(Gen(6)));
  EXPECT_EQ(ParseRecords(LogBytes()).size(), 1u);

  std::vector<std::wstring> files = varn::ListLogFiles();
  ASSERT_EQ(files.size(), 6u);
  EXPECT_EQ(files[0], LogPath());
  for (int n = 1; n <= 5; ++n) EXPECT_EQ(files[n], Gen(n));
}

TEST_F(LogRotation, GapsBetweenGenerationsAreKept) {
  ASSERT_TRUE(WriteBytes(LogPath(), Blob(4194400, 'c')));
  ASSERT_TRUE(WriteBytes(Gen(3), "third"));
  Open();
  varn::LogInfo(L"app", L"new");
  EXPECT_EQ(FileSize(Gen(1)), 4194400u);
  EXPECT_FALSE(FileExists(Gen(2)));
  EXPECT_FALSE(FileExists(Gen(3)));
  EXPECT_EQ(ReadBytes(Gen(4)), "third");

  std::vector<std::wstring> files = varn::ListLogFiles();
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], LogPath());
  EXPECT_EQ(files[1], Gen(1));
  EXPECT_EQ(files[2], Gen(4));
}

TEST_F(LogRotation, SizeIsCheckedOnTheFirstAndEverySixteenthRecord) {
  Open();
  varn::LogInfo(L"app", L"line 1");  // check at line 1: small, no rotation
  // Another writer makes the file large between two checks.
  HANDLE file = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  std::string padding = Blob(4194304, 'p') + "\r\n";
  DWORD written = 0;
  WriteFile(file, padding.data(), static_cast<DWORD>(padding.size()), &written, nullptr);
  CloseHandle(file);

  for (int line = 2; line <= 16; ++line) varn::LogInfo(L"app", L"line " + std::to_wstring(line));
  EXPECT_FALSE(FileExists(Gen(1))) << "lines 2 to 16 do not check the size";
  varn::LogInfo(L"app", L"line 17");
  ASSERT_TRUE(FileExists(Gen(1))) << "line 17 checks and rotates";
  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "line 17");
  EXPECT_EQ(ReadBytes(Gen(1)).substr(FileSize(Gen(1)) - 9), "line 16\r\n");
}

TEST_F(LogRotation, AGenerationHeldOpenStopsTheRotationUntilItIsFree) {
  ASSERT_TRUE(WriteBytes(LogPath(), Blob(4194304, 'c')));
  ASSERT_TRUE(WriteBytes(Gen(1), "one"));
  ASSERT_TRUE(WriteBytes(Gen(2), "two"));
  ASSERT_TRUE(WriteBytes(Gen(4), "four"));
  // A reader without delete sharing, as an export reading the generations is.
  HANDLE held = CreateFileW(Gen(2).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  Open();
  varn::LogInfo(L"app", L"while held");
  EXPECT_EQ(ReadBytes(Gen(1)), "one") << "generation 1 is never replaced when 2 could not move";
  EXPECT_EQ(ReadBytes(Gen(2)), "two");
  EXPECT_EQ(ReadBytes(Gen(4)), "four") << "what had moved already is back in its place";
  EXPECT_FALSE(FileExists(Gen(3)));
  EXPECT_FALSE(FileExists(Gen(5)));
  std::string current = LogBytes();
  EXPECT_GT(current.size(), 4194304u) << "the current file keeps growing";
  EXPECT_EQ(current.substr(current.size() - 12), "while held\r\n");

  CloseHandle(held);
  varn::LogInfo(L"app", L"freed");  // the next record tries again
  EXPECT_EQ(FileSize(Gen(1)), current.size());
  EXPECT_EQ(ReadBytes(Gen(2)), "one");
  EXPECT_EQ(ReadBytes(Gen(3)), "two");
  EXPECT_EQ(ReadBytes(Gen(5)), "four");
  std::vector<Record> records = ParseRecords(LogBytes());
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "freed");
}

// Where the log goes -------------------------------------------------------------------------

TEST(LogPlacement, UnusableProgramDirectoryFallsBackToLocalAppData) {
  TempDir dir;
  EnvScope appData(L"LOCALAPPDATA", (dir / L"appdata\\nested").c_str());

  // A program directory that does not exist.
  varn::OpenLog(dir / L"missing\\VARNListenFix.exe");
  std::wstring fallback = dir / L"appdata\\nested\\VARN\\VARNListenFix.log";
  EXPECT_TRUE(varn::IsLogEnabled());
  EXPECT_TRUE(varn::IsLogFallback());
  EXPECT_EQ(varn::LogFilePath(), fallback);
  EXPECT_EQ(varn::LogDirectory(), dir / L"appdata\\nested\\VARN");
  varn::LogInfo(L"app", L"in the fallback");
  EXPECT_EQ(ParseRecords(ReadBytes(fallback)).size(), 1u);

  // A directory standing where the log file's name should be.
  ASSERT_TRUE(CreateDirectoryW((dir / L"prog").c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW((dir / L"prog\\VARNListenFix.log").c_str(), nullptr));
  varn::OpenLog(dir / L"prog\\VARNListenFix.exe");
  EXPECT_TRUE(varn::IsLogFallback());
  EXPECT_EQ(varn::LogFilePath(), fallback);

  // A later run whose program directory is writable logs there again and leaves the
  // fallback files alone.
  ASSERT_TRUE(CreateDirectoryW((dir / L"good").c_str(), nullptr));
  varn::OpenLog(dir / L"good\\VARNListenFix.exe");
  EXPECT_FALSE(varn::IsLogFallback());
  EXPECT_EQ(varn::LogFilePath(), dir / L"good\\VARNListenFix.log");
  varn::LogInfo(L"app", L"back home");
  EXPECT_EQ(ParseRecords(ReadBytes(fallback)).size(), 1u);
  EXPECT_EQ(ParseRecords(ReadBytes(dir / L"good\\VARNListenFix.log")).size(), 1u);
}

TEST(LogPlacement, ALinkInPlaceOfTheLogIsNeverWrittenThrough) {
  TempDir dir;
  EnvScope appData(L"LOCALAPPDATA", (dir / L"appdata").c_str());
  const std::wstring victim = dir / L"victim.txt";
  ASSERT_TRUE(WriteBytes(victim, "precious"));

  // A hard link put where the log belongs before the start: the program directory counts as
  // unusable and the fallback is used.
  ASSERT_TRUE(CreateDirectoryW((dir / L"prog").c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkW((dir / L"prog\\VARNListenFix.log").c_str(), victim.c_str(), nullptr));
  varn::OpenLog(dir / L"prog\\VARNListenFix.exe");
  EXPECT_TRUE(varn::IsLogFallback());
  EXPECT_EQ(varn::LogFilePath(), dir / L"appdata\\VARN\\VARNListenFix.log");
  varn::LogInfo(L"app", L"to the fallback");

  // A hard link put in place of the log while the program runs: the record is dropped.
  ASSERT_TRUE(CreateDirectoryW((dir / L"good").c_str(), nullptr));
  const std::wstring log = dir / L"good\\VARNListenFix.log";
  varn::OpenLog(dir / L"good\\VARNListenFix.exe");
  ASSERT_FALSE(varn::IsLogFallback());
  varn::LogInfo(L"app", L"before");
  ASSERT_TRUE(DeleteFileW(log.c_str()));
  ASSERT_TRUE(CreateHardLinkW(log.c_str(), victim.c_str(), nullptr));
  varn::LogInfo(L"app", L"through the link");
  EXPECT_EQ(ReadBytes(victim), "precious");
  ASSERT_TRUE(DeleteFileW(log.c_str()));
  varn::LogInfo(L"app", L"after");
  std::vector<Record> records = ParseRecords(ReadBytes(log));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].message, "after");

}

void ExpectLoggingOff(const TempDir& dir) {
  EXPECT_FALSE(varn::IsLogEnabled());
  EXPECT_FALSE(varn::IsLogFallback());
  EXPECT_TRUE(varn::LogFilePath().empty());
  EXPECT_TRUE(varn::LogDirectory().empty());
  EXPECT_TRUE(varn::ListLogFiles().empty());
  varn::LogError(L"app", L"goes nowhere");  // must not crash or create anything
  EXPECT_FALSE(FileExists(dir / L"missing"));
}

TEST(LogPlacement, LoggingIsOffWhenNoFallbackIsPossible) {
  TempDir dir;
  const std::wstring program = dir / L"missing\\VARNListenFix.exe";
  {
    EnvScope appData(L"LOCALAPPDATA", nullptr);
    varn::OpenLog(program);
    ExpectLoggingOff(dir);
  }
  {
    EnvScope appData(L"LOCALAPPDATA", L"");
    varn::OpenLog(program);
    ExpectLoggingOff(dir);
  }
  {
    // 260 characters is already too long for the fallback.
    std::wstring longPath = dir.path() + L"\\";
    longPath.append(260 - longPath.size(), L'a');
    ASSERT_EQ(longPath.size(), 260u);
    EnvScope appData(L"LOCALAPPDATA", longPath.c_str());
    varn::OpenLog(program);
    ExpectLoggingOff(dir);
  }
  {
    // "VARN" exists as a file, so the fallback directory cannot be made.
    ASSERT_TRUE(CreateDirectoryW((dir / L"appdata").c_str(), nullptr));
    ASSERT_TRUE(WriteBytes(dir / L"appdata\\VARN", "not a directory"));
    EnvScope appData(L"LOCALAPPDATA", (dir / L"appdata").c_str());
    varn::OpenLog(program);
    ExpectLoggingOff(dir);
  }
}

// Concurrency --------------------------------------------------------------------------------

struct WriterArgs {
  int thread;
  int lines;
};

DWORD WINAPI WriteLines(void* param) {
  auto* args = static_cast<WriterArgs*>(param);
  std::wstring filler(2000, static_cast<wchar_t>(L'a' + args->thread));
  for (int i = 0; i < args->lines; ++i) {
    varn::LogInfo(L"work", L"t" + std::to_wstring(args->thread) + L" n" + std::to_wstring(i) +
                               L" " + filler);
  }
  return 0;
}

TEST_F(LogInDirectory, ConcurrentWritersNeitherInterleaveNorLoseRecords) {
  // Enough lines from four threads to cross 4 MiB, so a rotation happens among the writers.
  constexpr int kThreads = 4;
  constexpr int kLines = 550;
  WriterArgs args[kThreads];
  HANDLE threads[kThreads];
  for (int t = 0; t < kThreads; ++t) {
    args[t] = {t, kLines};
    threads[t] = CreateThread(nullptr, 0, WriteLines, &args[t], 0, nullptr);
    ASSERT_NE(threads[t], nullptr);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (HANDLE thread : threads) CloseHandle(thread);

  ASSERT_TRUE(FileExists(LogPath() + L".1")) << "the writers crossed the rotation limit";
  std::string all = ReadBytes(LogPath() + L".1") + LogBytes();
  std::vector<Record> records = ParseRecords(all);
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kLines));
  int next[kThreads] = {};
  for (const Record& record : records) {
    // "t<thread> n<index> " and 2000 copies of the thread's letter.
    int thread = -1, index = -1, consumed = 0;
    ASSERT_EQ(sscanf(record.message.c_str(), "t%d n%d %n", &thread, &index, &consumed), 2)
        << record.message.substr(0, 40);
    ASSERT_TRUE(thread >= 0 && thread < kThreads);
    EXPECT_EQ(index, next[thread]++) << "records of one thread keep their order";
    EXPECT_EQ(record.message.substr(static_cast<size_t>(consumed)),
              std::string(2000, static_cast<char>('a' + thread)));
  }
}

}  // namespace
