#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "addressbook/Importdatabase.h"
#include "support/ScriptedUiServices.h"
#include "support/TempDir.h"

namespace {

using Values = std::vector<std::string>;

const std::string kHyo = "\x95\x5C";  // 表
const std::string kSo = "\x83\x5C";   // ソ
const std::string kShi = "\x8E\xA6";  // 示

std::string Lines(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "l" + std::to_string(i) + ",x\r\n";
    return text;
}

}  // namespace

struct ImportCase {
    const char* what;
    std::string line;
    int format;
    Values expected;
};

TEST(Importdatabase, ParseLineTable) {
    const std::vector<ImportCase> cases = {
        {"doubled quotes stay doubled", "\"a\"\"b\"", 1, {"a\"\"b"}},
        {"separator inside quotes", "\"a,b\",c", 1, {"a,b", "c"}},
        {"trailing separator gives a last empty value", "a,b,", 1, {"a", "b", ""}},
        {"empty line gives one empty value", "", 1, {""}},
        {"only separators", ",,", 1, {"", "", ""}},
        {"no limit of ten", "1,2,3,4,5,6,7,8,9,10,11,12", 1,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}},
        {"tab ignores commas", "a,b\tc\t", 2, {"a,b", "c", ""}},
        {"any other format reads as comma", "a,b", 0, {"a", "b"}},
        {"quote then separator inside a quoted value", "\"a \"\"b\"\", c\",d", 1, {"a \"\"b\"\", c", "d"}},
        {"enclosing quotes of a single quote", "\",x", 1, {"\",x"}},
        {"Japanese trail bytes", "\"" + kHyo + kShi + "\"," + kSo + "\\," + kHyo, 1, {kHyo + kShi, kSo + "\\", kHyo}},
        {"lone lead byte at the end", "a,\x81", 1, {"a", "\x81"}},
    };
    for (const ImportCase& c : cases) {
        SCOPED_TRACE(c.what);
        TPVImportDatabase db;
        TPVRecord rec;
        db.ParseLine(rec, c.line, c.format);
        EXPECT_EQ(rec.Values, c.expected);
    }
}

TEST(Importdatabase, ParseLineCapsValuesOfAHugeLine) {
    TPVImportDatabase db;
    TPVRecord rec;
    db.ParseLine(rec, std::string(3 * 1024 * 1024, ','), 1);
    EXPECT_EQ(rec.Values.size(), static_cast<std::size_t>(TPVImportDatabase::MaxLineValues));
}

TEST(Importdatabase, SlotIsLineAndCountEndsAtLastNonEmptyLine) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVImportDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("i.csv", "a,b\r\n\r\n\"c\"\"d\",e,\r\n\r\n\r\n"), 1));
    EXPECT_EQ(db.Overflow, 0);
    ASSERT_EQ(db.Count, 3);
    EXPECT_EQ(db.Records[0].Values, (Values{"a", "b"}));
    EXPECT_TRUE(db.Records[1].Values.empty());  // the empty line: a record with no values
    EXPECT_EQ(db.Records[2].Values, (Values{"c\"\"d", "e", ""}));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(db.Records[i].OriginId, -1);
        EXPECT_EQ(db.Records[i].Selected, 0);
        EXPECT_EQ(db.Records[i].SendState, 0);
    }
    EXPECT_TRUE(db.Records[3].Values.empty());
    EXPECT_TRUE(ui->messages().empty());
    EXPECT_EQ(ui->progress(), (Values{"open Load data|Reading data", "range 0 100", "pos 0",
                                      "label Creating Address Book", "range 0 5", "pos 0", "pos 1", "pos 2",
                                      "pos 3", "pos 4", "close"}));
}

TEST(Importdatabase, TabFixture) {
    ScriptedUiServices::Install();
    TPVImportDatabase db;
    ASSERT_TRUE(db.LoadFromFile(std::string(PELVANE_FIXTURES) + "/addressbook/import_tab.txt", 2));
    ASSERT_EQ(db.Count, 4);
    EXPECT_EQ(db.Records[0].Values, (Values{"id", "name", "note"}));
    EXPECT_EQ(db.Records[1].Values, (Values{"1", "He said \"\"hi\"\"", "x,y", ""}));
    EXPECT_TRUE(db.Records[2].Values.empty());
    EXPECT_EQ(db.Records[3].Values, (Values{"2", kSo + "\xC3\x9E", kHyo}));
}

TEST(Importdatabase, OverflowWithoutMessage) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVImportDatabase db;

    ASSERT_TRUE(db.LoadFromFile(dir.write("1001.csv", Lines(1001)), 1));
    EXPECT_EQ(db.Overflow, 0);
    EXPECT_EQ(db.Count, 1001);

    ASSERT_TRUE(db.LoadFromFile(dir.write("1002.csv", Lines(1002)), 1));
    EXPECT_EQ(db.Overflow, 1);
    ASSERT_EQ(db.Count, 1001);
    EXPECT_EQ(db.Records[1000].Values, (Values{"l1000", "x"}));

    // Empty lines after the last slot lose nothing: no Overflow.
    ASSERT_TRUE(db.LoadFromFile(dir.write("1001b.csv", Lines(1001) + "\r\n\r\n\r\n"), 1));
    EXPECT_EQ(db.Overflow, 0);
    EXPECT_EQ(db.Count, 1001);
    // ...but a record after them does.
    ASSERT_TRUE(db.LoadFromFile(dir.write("1001c.csv", Lines(1001) + "\r\n\r\nlate"), 1));
    EXPECT_EQ(db.Overflow, 1);
    EXPECT_EQ(db.Count, 1001);
    // Empty lines count as lines: slot i is line i.
    ASSERT_TRUE(db.LoadFromFile(dir.write("gap.csv", "\r\n" + Lines(1001)), 1));
    EXPECT_EQ(db.Overflow, 1);
    EXPECT_EQ(db.Count, 1001);
    EXPECT_TRUE(db.Records[0].Values.empty());
    EXPECT_EQ(db.Records[1000].Values[0], "l999");

    EXPECT_TRUE(ui->messages().empty());
}

TEST(Importdatabase, UnreadableFileClearsOverflowAndKeepsStore) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVImportDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("1002.csv", Lines(1002)), 1));
    ASSERT_EQ(db.Overflow, 1);
    EXPECT_FALSE(db.LoadFromFile(dir.file("missing.csv"), 1));
    EXPECT_EQ(db.Overflow, 0);
    EXPECT_EQ(db.Count, 1001);
    auto m = ui->messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].caption, "Open Address Book");
    EXPECT_EQ(m[0].text, "Could not open file.");
    EXPECT_EQ(ui->progress().back(), "close");
}

TEST(Importdatabase, EmptyFileAndNul) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVImportDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("e.csv", ""), 1));
    EXPECT_EQ(db.Count, 0);
    ASSERT_TRUE(db.LoadFromFile(dir.write("n.csv", std::string("a,b\r\nc\0d\r\ne", 12)), 1));
    ASSERT_EQ(db.Count, 2);
    EXPECT_EQ(db.Records[1].Values, (Values{"c"}));
    EXPECT_TRUE(ui->messages().empty());
}

TEST(Importdatabase, HostileFilesNeitherCrashNorHang) {
    ScriptedUiServices::Install();
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    TPVImportDatabase db;
    std::string many;
    for (int i = 0; i < 50; ++i) many += std::string(20000, ',') + "\r\n";
    ASSERT_TRUE(db.LoadFromFile(dir.write("many.csv", many), 1));
    EXPECT_EQ(db.Count, 50);
    EXPECT_EQ(db.Records[49].Values.size(), static_cast<std::size_t>(TPVImportDatabase::MaxLineValues));
    ASSERT_TRUE(db.LoadFromFile(dir.write("q.csv", std::string(4 * 1024 * 1024, '"') + "\x81"), 1));
    EXPECT_EQ(db.Count, 1);
    EXPECT_EQ(db.Records[0].Values.size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}
