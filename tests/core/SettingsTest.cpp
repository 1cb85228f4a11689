#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "shell/AppSettings.h"
#include "shell/IniFile.h"
#include "support/TempDir.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(Settings, MissingFileGivesEveryDefault) {
    TempDir dir;
    TAppSettings s = LoadSettingsFile(dir.file("none.ini"));
    EXPECT_EQ(s.name, "");
    EXPECT_EQ(s.from, "");
    EXPECT_EQ(s.smtpServer, "");
    EXPECT_EQ(s.popServer, "");
    EXPECT_EQ(s.userId, "");
    EXPECT_EQ(s.password, "");
    EXPECT_EQ(s.authType, 1);
    EXPECT_EQ(s.encode, 1);
    EXPECT_EQ(s.sendContinue, 2);
    EXPECT_EQ(s.toolbar, 0);
    EXPECT_EQ(s.ui, 0);
    EXPECT_EQ(s.fontName, "Courier");
    EXPECT_EQ(s.fontSize, 12);
    EXPECT_TRUE(s.startShortcut);
    EXPECT_TRUE(s.firstRun);
    EXPECT_EQ(s.defaultAddrBook, "");
    EXPECT_TRUE(s.proMode);
    EXPECT_TRUE(s.logWindowHidden);
    EXPECT_EQ(s.secondsBetweenMails, 0);
    EXPECT_EQ(s.minutesBeforeResend, 0);
    EXPECT_EQ(s.multiAddressHeader, 0);
}

TEST(Settings, SaveWritesVersionFirstRunAndTableOrder) {
    TempDir dir;
    std::string path = dir.file("pelvane.ini");
    TAppSettings s;
    s.name = "\x8e\x52\x93\x63";  // 山田 in CP932
    s.from = "taro@example.jp";
    s.password = "abc";
    s.encode = 0;
    s.firstRun = true;  // still written as 0
    s.startShortcut = false;
    ASSERT_TRUE(SaveSettingsFile(path, s));

    const std::vector<std::string> expected = {
        "[SETUP]",        "IniVersion=3000", "Name=\x8e\x52\x93\x63", "From=taro@example.jp",
        "SMTPServer=",    "POPServer=",      "UserID=",               "Password=362616",
        "AuthType=1",     "Encode=0",        "SendContinue=2",        "Toolbar=0",
        "UI=0",           "Font=Courier",    "FontSize=12",           "StartShortcut=0",
        "FirstRun=0",     "DefaultAddrBook=",
    };
    std::string text = TempDir::read(path);
    EXPECT_EQ(Lines(text), expected);
    EXPECT_NE(text.find("IniVersion=3000\r\n"), std::string::npos) << "lines end with CR LF";

    TAppSettings back = LoadSettingsFile(path);
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.password, "abc");
    EXPECT_EQ(back.encode, 0);
    EXPECT_FALSE(back.firstRun);
    EXPECT_FALSE(back.startShortcut);
}

TEST(Settings, UnknownEncodingSurvivesARoundTrip) {
    TempDir dir;
    std::string path = dir.write("p.ini", "[SETUP]\r\nEncode=7\r\n");
    TAppSettings s = LoadSettingsFile(path);
    EXPECT_EQ(s.encode, 7);
    ASSERT_TRUE(SaveSettingsFile(path, s));
    EXPECT_EQ(IniReadInteger(path, "SETUP", "Encode", -1), 7);
}

TEST(Settings, HandMadeFileIsReadWithoutRegardToCase) {
    TempDir dir;
    // As another program or a person would write it: other case, blanks,
    // comments, LF line ends, other sections around.
    std::string path = dir.write("p.ini",
                                 "; written by hand\n"
                                 "[Window]\n"
                                 "MainForm=1,2,3,4,0\n"
                                 "[setup]\n"
                                 "smtpserver = mail.example.jp\n"
                                 "USERID=taro\n"
                                 "FirstRun=0\n"
                                 "StartShortcut=5\n"
                                 "FontSize=abc\n"
                                 "[OTHER]\n"
                                 "Name=not this one\n");
    TAppSettings s = LoadSettingsFile(path);
    EXPECT_EQ(s.smtpServer, "mail.example.jp");
    EXPECT_EQ(s.userId, "taro");
    EXPECT_FALSE(s.firstRun);
    EXPECT_TRUE(s.startShortcut);  // any value other than 0 counts as on
    EXPECT_EQ(s.fontSize, 12);     // not a number: the default
    EXPECT_EQ(s.name, "");
    EXPECT_EQ(IniReadString(path, "WINDOW", "mainform", ""), "1,2,3,4,0");

    // A write keeps what it does not touch, the comment included.
    ASSERT_TRUE(IniWriteString(path, "Setup", "Name", "Hanako"));
    EXPECT_EQ(IniReadString(path, "SETUP", "smtpServer", ""), "mail.example.jp");
    EXPECT_EQ(IniReadString(path, "other", "name", ""), "not this one");
    EXPECT_EQ(IniReadString(path, "SETUP", "NAME", ""), "Hanako");
    EXPECT_NE(TempDir::read(path).find("; written by hand"), std::string::npos);
}

TEST(Settings, GarbageOrUnreadableFilesGiveDefaults) {
    TempDir dir;
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) & 0xFF);
    std::string folderInstead = dir.file("folder.ini");
    ::mkdir(folderInstead.c_str(), 0700);
    std::string unreadable = dir.write("locked.ini", "[SETUP]\nName=x\n");
    ::chmod(unreadable.c_str(), 0);
    for (const std::string& path : {dir.write("garbage.ini", garbage), folderInstead, unreadable,
                                    dir.write("half.ini", "[SETUP\nName")}) {
        TAppSettings s = LoadSettingsFile(path);
        EXPECT_EQ(s.authType, 1) << path;
        EXPECT_EQ(s.fontName, "Courier") << path;
        EXPECT_TRUE(s.firstRun) << path;
    }
}

TEST(Settings, FailedWriteLeavesTheOldFile) {
    TempDir dir;
    std::string path = dir.write("p.ini", "[SETUP]\r\nName=old\r\n");
    // A folder where the writer's temporary file would go makes the write
    // fail, for root too.
    std::string blocker = path + ".tmp-" + std::to_string(::getpid());
    ASSERT_EQ(::mkdir(blocker.c_str(), 0700), 0);
    EXPECT_FALSE(IniWriteString(path, "SETUP", "Name", "new"));
    EXPECT_EQ(IniReadString(path, "SETUP", "Name", ""), "old");
}

TEST(Settings, ValuesCannotForgeKeys) {
    TempDir dir;
    std::string path = dir.file("p.ini");
    ASSERT_TRUE(IniWriteString(path, "SETUP", "Name", "Taro\r\nFirstRun=1"));
    EXPECT_EQ(IniReadString(path, "SETUP", "Name", ""), "Taro");
    EXPECT_EQ(IniReadString(path, "SETUP", "FirstRun", "none"), "none");
}
