#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "delivery/Clock.h"
#include "delivery/Debug.h"
#include "shell/Codec.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "support/ScriptedUiServices.h"
#include "support/TempDir.h"

namespace {

TClockTime At(int hour, int minute, int second, int millisecond = 0) {
    TClockTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 9;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.millisecond = millisecond;
    t.weekday = 3;
    return t;
}

// A fixed clock, a temporary folder, fresh UI services and file logging on;
// everything put back afterwards.
class DebugLog : public ::testing::Test {
protected:
    void SetUp() override {
        SetClock([this] { return now_; });
        ui_ = ScriptedUiServices::Install();
        SetFileLogging(true);
        path_ = dir_.file("log.txt");
    }
    void TearDown() override {
        SetClock({});
        SetLogPath("");
        SetLogWindow({}, {});
        SetFileLogging(true);
        SetUiServices(nullptr);
    }

    TempDir dir_;
    TClockTime now_ = At(10, 37, 26);
    std::shared_ptr<ScriptedUiServices> ui_;
    std::string path_;
};

}  // namespace

TEST(DebugLogFormat, DateAndTime) {
    struct Case {
        TClockTime t;
        const char* text;
    } cases[] = {
        {At(10, 37, 26), "2026/12/09 10:37:26"},
        {At(9, 5, 7), "2026/12/09 9:05:07"},
        {At(0, 0, 1), "2026/12/09 0:00:01"},
        {At(0, 0, 0), "2026/12/09"},               // exactly midnight: the date alone
        {At(0, 0, 0, 500), "2026/12/09 0:00:00"},  // half a second later is not midnight
    };
    for (const Case& c : cases) EXPECT_EQ(FormatLogDateTime(c.t), c.text);
}

TEST(DebugLogFormat, LongEventsAreCutToTheLineBuffer) {
    const std::string stamp = "2026/12/09 10:37:26 / ";
    // Room for the event: the buffer less the stamp, CR LF and the terminator.
    const std::size_t room = kLogLineBufferSize - stamp.size() - 2 - 1;
    const std::string kana = Utf8ToCp932("あ");
    ASSERT_EQ(kana.size(), 2u);

    struct Case {
        const char* name;
        std::string event;
        std::string expectedEvent;
    } cases[] = {
        {"short", "Mail has been sent.", "Mail has been sent."},
        {"exactly fits", std::string(room, 'a'), std::string(room, 'a')},
        {"2,000 single bytes", std::string(2000, 'a'), std::string(room, 'a')},
        // room is odd: the last double-byte character that would be split is left out
        {"double-byte at the cut",
         std::string(1, 'a') +
             [&] {
                 std::string s;
                 for (int i = 0; i < 1000; ++i) s += kana;
                 return s;
             }(),
         std::string(1, 'a') +
             [&] {
                 std::string s;
                 for (std::size_t i = 0; i < (room - 1) / 2; ++i) s += kana;
                 return s;
             }()},
        {"line breaks", "550 first\r\nsecond\rthird\n", "550 first  second third "},
        {"NUL", std::string("a\0b", 3), "a b"},
        // 0x0D after a lead byte is no trail byte: it is still a line break
        {"broken pair", std::string("\x82\r\n", 3), std::string("\x82  ", 3)},
    };
    for (const Case& c : cases) {
        const std::string line = FormatLogLine(At(10, 37, 26), c.event);
        EXPECT_EQ(line, stamp + c.expectedEvent + "\r\n") << c.name;
        EXPECT_LT(line.size(), kLogLineBufferSize) << c.name;
    }
    EXPECT_EQ(room % 2, 1u);  // the double-byte case above relies on it
}

TEST_F(DebugLog, LinesAreAppendedWithTheClockTime) {
    StartLog(path_);
    WriteLog(path_, "Connected to SMTP server. ( mail.example.com / 2 )");
    now_ = At(10, 37, 27);
    WriteLog(path_, "1(1) Subject");
    EXPECT_EQ(TempDir::read(path_),
              "2026/12/09 10:37:26 / Connected to SMTP server. ( mail.example.com / 2 )\r\n"
              "2026/12/09 10:37:27 / 1(1) Subject\r\n");
    EXPECT_TRUE(ui_->messages().empty());
}

TEST_F(DebugLog, EachJobStartsANewFile) {
    StartLog(path_);
    WriteLog(path_, "first job");
    StartLog(path_);
    WriteLog(path_, "second job");
    EXPECT_EQ(TempDir::read(path_), "2026/12/09 10:37:26 / second job\r\n");
}

TEST_F(DebugLog, AReaderHoldingTheFileOpenDoesNotStopTheLog) {
    StartLog(path_);
    WriteLog(path_, "one");
    std::ifstream reader(path_, std::ios::binary);
    ASSERT_TRUE(reader.is_open());
    WriteLog(path_, "two");
    std::string all((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(all, "2026/12/09 10:37:26 / one\r\n2026/12/09 10:37:26 / two\r\n");
}

TEST_F(DebugLog, AnUnwritableFileIsReportedOnceAndLoggingStops) {
    std::vector<std::string> window;
    SetLogWindow([&](const std::string& line) { window.push_back(line); }, [&] { window.clear(); });
    const std::string bad = dir_.file("no-such-folder/log.txt");
    StartLog(bad);
    WriteLog(bad, "one");
    WriteLog(bad, "two");
    EXPECT_FALSE(FileLogging());
    ASSERT_EQ(ui_->messages().size(), 1u);
    EXPECT_EQ(ui_->messages()[0].kind, MessageKind::Info);
    EXPECT_EQ(ui_->messages()[0].caption, LoadStr(4290));
    EXPECT_EQ(ui_->messages()[0].text, LoadStr(4291));
    // The window still gets every line.
    EXPECT_EQ(window, (std::vector<std::string>{"2026/12/09 10:37:26 / one", "2026/12/09 10:37:26 / two"}));

    // The next job logs again.
    StartLog(path_);
    EXPECT_TRUE(window.empty());
    EXPECT_TRUE(FileLogging());
    WriteLog(path_, "three");
    EXPECT_EQ(TempDir::read(path_), "2026/12/09 10:37:26 / three\r\n");
    EXPECT_EQ(ui_->messages().size(), 1u);
}

TEST_F(DebugLog, ThePathDefaultsToTheDataFolder) {
    const AppPaths saved = Paths();
    AppPaths paths = saved;
    paths.logFile = dir_.file("default-log.txt");
    SetAppPaths(paths);
    EXPECT_EQ(LogPath(), paths.logFile);
    StartLog();
    WriteLog("to the default");
    SetLogPath(path_);
    EXPECT_EQ(LogPath(), path_);
    StartLog();
    WriteLog("to the chosen one");
    SetAppPaths(saved);
    EXPECT_EQ(TempDir::read(paths.logFile), "2026/12/09 10:37:26 / to the default\r\n");
    EXPECT_EQ(TempDir::read(path_), "2026/12/09 10:37:26 / to the chosen one\r\n");
}
