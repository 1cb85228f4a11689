#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "addressbook/Database.h"
#include "shell/Commonfunc.h"
#include "shell/StringTable.h"
#include "support/ScriptedUiServices.h"
#include "support/TempDir.h"

namespace {

using Values = std::vector<std::string>;

// Real CP932 characters whose second byte is in the ASCII range.
const std::string kHyo = "\x95\x5C";    // 表 (trail 0x5C, the backslash)
const std::string kSo = "\x83\x5C";     // ソ (trail 0x5C)
const std::string kNou = "\x94\x5C";    // 能 (trail 0x5C)
const std::string kJuu = "\x8F\x5C";    // 十 (trail 0x5C)
const std::string kChoon = "\x81\x5B";  // ー (trail 0x5B, "[")
const std::string kShi = "\x8E\xA6";    // 示
const std::string kFuto = "\x83\x74\x83\x67";  // フト (trails 0x74 "t", 0x67 "g")
const std::string kYamada = "\x8E\x52\x93\x63";  // 山田 (trails 0x52 "R", 0x63 "c")

const std::string kTooMany =
    "The data file you are reading in contains more than 1,000 records. "
    "Only the first 1,000 records will be imported.";

Values First(const TPVRecord& r, std::size_t n) {
    Values v(r.Values.begin(), r.Values.begin() + std::min(n, r.Values.size()));
    return v;
}

std::string Numbered(int n) {
    std::string text;
    for (int i = 0; i < n; ++i) text += "\"v" + std::to_string(i) + "\",\"x\"\r\n";
    return text;
}

}  // namespace

// ------------------------------------------------------------------ shape

TEST(Database, ConstructionGivesEmptySlotsAndConstants) {
    TPVDatabase db;
    EXPECT_EQ(TPVDatabase::MaxRecords, 1000);
    EXPECT_EQ(TPVDatabase::FieldCount, 20);
    EXPECT_EQ(TPVDatabase::FileFieldCount, 10);
    EXPECT_EQ(TPVDatabase::SendWaiting, 0);
    EXPECT_EQ(TPVDatabase::SendCompleted, 1);
    EXPECT_EQ(TPVDatabase::SendError, 2);
    EXPECT_EQ(TPVDatabase::FormatComma, 1);
    EXPECT_EQ(TPVDatabase::FormatTab, 2);
    ASSERT_EQ(db.Records.size(), 1001u);
    EXPECT_EQ(db.Count, 0);
    EXPECT_TRUE(db.FieldNames.empty());
    for (const TPVRecord& r : db.Records) {
        EXPECT_TRUE(r.Values.empty());
        EXPECT_EQ(r.OriginId, -1);
        EXPECT_EQ(r.Selected, 0);
        EXPECT_EQ(r.SendState, 0);
    }
}

TEST(Database, LoadDefaultFieldNamesReadsInstallationFileIndex) {
    TempDir dir;
    AppPaths p = dir.makeAppPaths();
    SetAppPaths(p);
    TPVDatabase db;
    db.LoadDefaultFieldNames();  // no installation file: the string table
    ASSERT_EQ(db.FieldNames.size(), 20u);
    EXPECT_EQ(db.FieldNames[0], "Mail Address");
    EXPECT_EQ(db.FieldNames[1], "Name");
    EXPECT_EQ(db.FieldNames[2], "field3");
    EXPECT_EQ(db.FieldNames[19], "field20");
    for (int i = 0; i < 20; ++i) EXPECT_EQ(db.FieldNames[i], LoadStr(5000 + i));

    TempDir::writeAt(p.installFile, "[index]\r\n2=" + kYamada + "\r\n20=Last\r\n[Other]\r\n1=no\r\n");
    db.FieldNames = {"junk"};
    db.LoadDefaultFieldNames();
    ASSERT_EQ(db.FieldNames.size(), 20u);
    EXPECT_EQ(db.FieldNames[0], "Mail Address");
    EXPECT_EQ(db.FieldNames[1], kYamada);
    EXPECT_EQ(db.FieldNames[18], "field19");
    EXPECT_EQ(db.FieldNames[19], "Last");
}

TEST(Database, ClearKeepsFieldNames) {
    TPVDatabase db;
    db.FieldNames = {"a", "b"};
    db.ResetRecord(0);
    db.Records[0].Selected = 1;
    db.Records[0].SendState = 2;
    db.Records[0].OriginId = 7;
    db.Records[5].Values = {"left"};
    db.Count = 1;
    db.Clear();
    EXPECT_EQ(db.Count, 0);
    EXPECT_EQ(db.FieldNames, (Values{"a", "b"}));
    for (const TPVRecord& r : db.Records) {
        EXPECT_TRUE(r.Values.empty());
        EXPECT_EQ(r.OriginId, -1);
        EXPECT_EQ(r.Selected, 0);
        EXPECT_EQ(r.SendState, 0);
    }
}

TEST(Database, ResetRecordAndPadFields) {
    TPVDatabase db;
    db.Records[3].Values = {"x"};
    db.Records[3].Selected = 1;
    db.Records[3].OriginId = 9;
    db.ResetRecord(3);
    EXPECT_EQ(db.Records[3].Values, Values(20, ""));
    EXPECT_EQ(db.Records[3].Selected, 1);
    EXPECT_EQ(db.Records[3].OriginId, 9);

    db.FieldNames = {"a"};
    db.Records[0].Values = {"1", "2"};
    db.Records[1].Values = Values(25, "z");
    db.Records[2].Values = {"beyond count"};
    db.Count = 2;
    db.PadFields(20);
    EXPECT_EQ(db.FieldNames.size(), 20u);
    EXPECT_EQ(db.FieldNames[0], "a");
    EXPECT_EQ(db.Records[0].Values.size(), 20u);
    EXPECT_EQ(db.Records[0].Values[1], "2");
    EXPECT_EQ(db.Records[1].Values.size(), 25u);
    EXPECT_EQ(db.Records[2].Values.size(), 1u);
}

TEST(Database, DeleteRecordMovesLaterRecordsDown) {
    TPVDatabase db;
    for (int i = 0; i < 4; ++i) {
        db.ResetRecord(i);
        db.Records[i].Values[0] = "r" + std::to_string(i);
        db.Records[i].SendState = i % 3;
        db.Records[i].Selected = i % 2;
        db.Records[i].OriginId = 10 + i;
    }
    db.Count = 4;
    db.DeleteRecord(1);
    ASSERT_EQ(db.Count, 3);
    EXPECT_EQ(db.Records[0].Values[0], "r0");
    EXPECT_EQ(db.Records[1].Values[0], "r2");
    EXPECT_EQ(db.Records[1].SendState, 2);
    EXPECT_EQ(db.Records[1].Selected, 0);
    EXPECT_EQ(db.Records[1].OriginId, 12);
    EXPECT_EQ(db.Records[2].Values[0], "r3");
    EXPECT_EQ(db.Records[2].Selected, 1);
    EXPECT_EQ(db.Records[2].OriginId, 13);
    EXPECT_TRUE(db.Records[3].Values.empty());
    EXPECT_EQ(db.Records[3].OriginId, -1);
    EXPECT_EQ(db.Records[3].Selected, 0);
    EXPECT_EQ(db.Records[3].SendState, 0);

    TPVDatabase empty;
    empty.DeleteRecord(0);  // nothing happens
    EXPECT_EQ(empty.Count, 0);
}

TEST(Database, DeleteRecordByIdDeletesTheLaterOfTwo) {
    TPVDatabase db;
    const int ids[] = {5, 7, 5, 8};
    for (int i = 0; i < 4; ++i) {
        db.ResetRecord(i);
        db.Records[i].Values[0] = "r" + std::to_string(i);
        db.Records[i].OriginId = ids[i];
    }
    db.Count = 4;
    db.DeleteRecordById(5);
    ASSERT_EQ(db.Count, 3);
    EXPECT_EQ(db.Records[0].Values[0], "r0");
    EXPECT_EQ(db.Records[1].Values[0], "r1");
    EXPECT_EQ(db.Records[2].Values[0], "r3");
    db.DeleteRecordById(42);  // no match: nothing
    EXPECT_EQ(db.Count, 3);
    db.RenumberIds();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(db.Records[i].OriginId, i);
    EXPECT_EQ(db.Records[3].OriginId, -1);
}

TEST(Database, CopyFromAndCopyAreExactAndIndependent) {
    TPVDatabase a;
    a.FieldNames = Values(20, "f");
    for (int i = 0; i < 3; ++i) {
        a.ResetRecord(i);
        a.Records[i].Values[0] = "v" + std::to_string(i);
        a.Records[i].SendState = TPVDatabase::SendError;
        a.Records[i].Selected = 1;
        a.Records[i].OriginId = 30 + i;
    }
    a.Count = 3;

    TPVDatabase b;
    b.ResetRecord(5);
    b.Records[5].Values[0] = "old leftover";
    b.Count = 6;
    b.CopyFrom(a);
    EXPECT_EQ(b.Count, 3);
    EXPECT_EQ(b.FieldNames, a.FieldNames);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(b.Records[i].Values, a.Records[i].Values);
        EXPECT_EQ(b.Records[i].SendState, 2);
        EXPECT_EQ(b.Records[i].Selected, 1);
        EXPECT_EQ(b.Records[i].OriginId, 30 + i);
    }
    EXPECT_TRUE(b.Records[5].Values.empty());
    ASSERT_EQ(b.Records.size(), 1001u);
    b.Records[0].Values[0] = "changed";
    EXPECT_EQ(a.Records[0].Values[0], "v0");

    TPVDatabase c = a;  // the send job's copy
    c.Records[1].SendState = 1;
    EXPECT_EQ(a.Records[1].SendState, 2);
    EXPECT_EQ(c.Count, 3);
    EXPECT_EQ(c.Records[2].Values[0], "v2");
    c.CopyFrom(c);  // self-copy keeps everything
    EXPECT_EQ(c.Count, 3);
}

// ------------------------------------------------------------------ splitting

struct ParseCase {
    const char* what;
    std::string line;
    int format;
    Values expected;  // the first values; the rest of the 20 stay empty
};

TEST(Database, ParseLineTable) {
    const std::vector<ParseCase> cases = {
        {"separator inside quotes", "\"a,b\",c", 1, {"a,b", "c"}},
        {"doubled quotes collapse", "\"He said \"\"hi\"\"\",x", 1, {"He said \"hi\"", "x"}},
        {"twelve plain values", "1,2,3,4,5,6,7,8,9,10,11,12", 1,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10,11,12"}},
        {"tab ignores commas", "a,b\tc", 2, {"a,b", "c"}},
        {"any other format reads as comma", "a,b\tc", 7, {"a", "b\tc"}},
        {"trailing separator adds no value", "a,b,", 1, {"a", "b", ""}},
        {"empty quoted values", "\"\",\"\",z", 1, {"", "", "z"}},
        {"lone opening quote runs to the end", "\",x", 1, {"\",x"}},
        {"lone quote field", "a,\",b", 1, {"a", "\",b"}},
        {"just a quote", "\"", 1, {""}},
        {"no trimming", " a , \" b \" ", 1, {" a ", " \" b \" "}},
        {"unterminated quote runs to the end", "\"abc,def", 1, {"\"abc,def"}},
        {"quote then text then separator", "\"x\"y,z", 1, {"\"x\"y", "z"}},
        // A doubled quote keeps the
        // quoted part going, so a value with a quote and a comma after it is
        // one value, as SaveToFile wrote it.
        {"quote then separator inside a quoted value", "\"a \"\"b\"\", c\",d", 1, {"a \"b\", c", "d"}},
        {"tenth value collapses doubled quotes", "1,2,3,4,5,6,7,8,9,\"He said \"\"hi\"\"\"", 1,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "He said \"hi\""}},
        {"tenth value with more separators", "1,2,3,4,5,6,7,8,9,\"j\",\"k\"", 1,
         {"1", "2", "3", "4", "5", "6", "7", "8", "9", "j\",\"k"}},
        // Japanese: trail bytes 0x5C, 0x5B, 0x74 ... are never doubled or split.
        {"trail byte 0x5C", "\"" + kHyo + kShi + "\",\"" + kSo + kFuto + "\"", 1, {kHyo + kShi, kSo + kFuto}},
        {"plain Japanese", kNou + "," + kJuu + "\t" + kChoon, 1, {kNou, kJuu + "\t" + kChoon}},
        {"Japanese tab", kYamada + "\t\"" + kHyo + "\"\"" + kSo + "\"", 2, {kYamada, kHyo + "\"" + kSo}},
        {"backslash after a character", "\"" + kHyo + "\\\",x", 1, {kHyo + "\\", "x"}},
        {"lead byte before the closing quote", "\"ab\x81\",c", 1, {"ab\x81", "c"}},
        {"lone lead byte at the end", "a,b\x81", 1, {"a", "b\x81"}},
        {"lone lead byte before a separator", "\x81,x", 1, {"\x81", "x"}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.what);
        TPVDatabase db;
        TPVRecord rec;
        rec.Values.assign(20, "");
        db.ParseLine(rec, c.line, c.format);
        ASSERT_EQ(rec.Values.size(), 20u);
        Values want = c.expected;
        want.resize(20);
        EXPECT_EQ(rec.Values, want);
    }
}

TEST(Database, ParseLineKeepsValuesTheLineDoesNotReach) {
    TPVDatabase db;
    TPVRecord rec;
    rec.Values = Values(20, "old");
    db.ParseLine(rec, "a,b", 1);
    EXPECT_EQ(rec.Values[0], "a");
    EXPECT_EQ(rec.Values[1], "b");
    EXPECT_EQ(rec.Values[2], "old");
    EXPECT_EQ(rec.Values[19], "old");

    TPVRecord bare;  // fewer than ten values: grown to ten
    db.ParseLine(bare, "1,2,3,4,5,6,7,8,9,10", 1);
    ASSERT_EQ(bare.Values.size(), 10u);
    EXPECT_EQ(bare.Values[9], "10");
}

// ------------------------------------------------------------------ reading

TEST(Database, EmptyFileGivesNoRecordsAndNoMessage) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    db.ResetRecord(0);
    db.Count = 1;
    EXPECT_TRUE(db.LoadFromFile(dir.write("empty.csv", ""), 1));
    EXPECT_EQ(db.Count, 0);
    EXPECT_TRUE(ui->messages().empty());
    EXPECT_EQ(ui->progress(), (Values{"open Load data|Reading data", "range 0 100", "pos 0",
                                      "label Creating Address Book", "range 0 0", "close"}));
}

TEST(Database, UnreadableFileLeavesStoreAndShowsMessage) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    db.ResetRecord(0);
    db.Records[0].Values[0] = "keep";
    db.Records[0].Selected = 1;
    db.Count = 1;
    EXPECT_FALSE(db.LoadFromFile(dir.file("missing.csv"), 1));
    EXPECT_FALSE(db.LoadFromFile(dir.path(), 1));  // a folder
    EXPECT_EQ(db.Count, 1);
    EXPECT_EQ(db.Records[0].Values[0], "keep");
    EXPECT_EQ(db.Records[0].Selected, 1);
    auto m = ui->messages();
    ASSERT_EQ(m.size(), 2u);
    EXPECT_EQ(m[0].kind, MessageKind::Info);
    EXPECT_EQ(m[0].caption, "Open Address Book");
    EXPECT_EQ(m[0].text, "Could not open file.");
    EXPECT_EQ(ui->progress().back(), "close");
}

// 1,002 records: the message and 1,001 records, lines 0 to 1000. The store
// has 1,001 slots so that an address-book file of a header line and 1,000
// records fits: the address-book file reader deletes record 0 as the header and
// keeps 1,000. The 1,002nd line is the first that finds no slot.
TEST(Database, ThousandAndTwoLinesGiveMessageAndThousandAndOneRecords) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("big.csv", Numbered(1002)), 1));
    ASSERT_EQ(db.Count, 1001);
    EXPECT_EQ(db.Records[0].Values[0], "v0");
    EXPECT_EQ(db.Records[1000].Values[0], "v1000");
    EXPECT_EQ(db.Records[1000].Values[1], "x");
    EXPECT_EQ(db.Records[1000].Values.size(), 20u);
    for (int i = 0; i < 1001; ++i) {
        ASSERT_EQ(db.Records[i].OriginId, i);
        ASSERT_EQ(db.Records[i].Selected, 0);
        ASSERT_EQ(db.Records[i].SendState, 0);
    }
    auto m = ui->messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].kind, MessageKind::Info);
    EXPECT_EQ(m[0].caption, "Import Data File");
    EXPECT_EQ(m[0].text, kTooMany);

    // Progress per line: position i before line i, up to the line refused.
    Values want = {"open Load data|Reading data", "range 0 100", "pos 0", "label Creating Address Book",
                   "range 0 1002"};
    for (int i = 0; i <= 1001; ++i) want.push_back("pos " + std::to_string(i));
    want.push_back("close");
    EXPECT_EQ(ui->progress(), want);

    // The address-book file reader drops the header: 1,000 remain.
    db.DeleteRecord(0);
    EXPECT_EQ(db.Count, 1000);
}

TEST(Database, ThousandAndOneLinesFitWithoutMessage) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("fits.csv", Numbered(1001) + "\r\n\r\n"), 1));
    EXPECT_EQ(db.Count, 1001);
    EXPECT_TRUE(ui->messages().empty());
}

// An empty line between records is skipped without taking a slot: it does
// not become an empty recipient, and no record after it is lost or moved
// out of the limit.
TEST(Database, EmptyLinesAreSkipped) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    ASSERT_TRUE(db.LoadFromFile(dir.write("gaps.csv", "\r\na,1\r\n\r\n\r\nb,2\r\n\r\n"), 1));
    ASSERT_EQ(db.Count, 2);
    EXPECT_EQ(First(db.Records[0], 2), (Values{"a", "1"}));
    EXPECT_EQ(First(db.Records[1], 2), (Values{"b", "2"}));
    EXPECT_EQ(db.Records[0].OriginId, 0);
    EXPECT_EQ(db.Records[1].OriginId, 1);

    // 1,001 records with empty lines among them still fit.
    std::string text;
    for (int i = 0; i < 1001; ++i) text += "r" + std::to_string(i) + (i % 100 == 0 ? "\r\n\r\n" : "\r\n");
    ASSERT_TRUE(db.LoadFromFile(dir.write("gaps2.csv", text), 1));
    EXPECT_EQ(db.Count, 1001);
    EXPECT_EQ(db.Records[1000].Values[0], "r1000");
    EXPECT_TRUE(ui->messages().empty());
}

TEST(Database, LineEndsAndNul) {
    auto ui = ScriptedUiServices::Install();
    TPVDatabase db;
    ASSERT_TRUE(db.LoadFromFile(std::string(PELVANE_FIXTURES) + "/addressbook/line_ends.txt", 1));
    // CR LF, LF, CR + CR LF (an empty line, skipped), CR, and no end at the end.
    ASSERT_EQ(db.Count, 5);
    const char* first[] = {"a1", "b1", "c1", "d1", "e1"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(db.Records[i].Values[0], first[i]);
    EXPECT_EQ(db.Records[4].Values[1], "e2");

    ASSERT_TRUE(db.LoadFromFile(std::string(PELVANE_FIXTURES) + "/addressbook/nul_inside.csv", 1));
    ASSERT_EQ(db.Count, 2);  // the NUL ends the text
    EXPECT_EQ(First(db.Records[0], 2), (Values{"a", "b"}));
    EXPECT_EQ(First(db.Records[1], 2), (Values{"c", "\"d"}));
    EXPECT_TRUE(ui->messages().empty());

    EXPECT_EQ(TPVDatabase::SplitLines(std::string("x\r\ny\n\nz\rw\r", 11)), (Values{"x", "y", "", "z", "w"}));
    EXPECT_EQ(TPVDatabase::SplitLines(std::string("a\0b\nc", 5)), (Values{"a"}));
    EXPECT_EQ(TPVDatabase::SplitLines("\r\n"), (Values{""}));
    EXPECT_TRUE(TPVDatabase::SplitLines("").empty());
}

TEST(Database, LoadResetsStateAndFlagAndKeepsFieldNames) {
    ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    db.FieldNames = {"keep"};
    for (int i = 0; i < 3; ++i) {
        db.ResetRecord(i);
        db.Records[i].Selected = 1;
        db.Records[i].SendState = 1;
    }
    db.Count = 3;
    ASSERT_TRUE(db.LoadFromFile(dir.write("one.csv", "\"only\""), 1));
    EXPECT_EQ(db.Count, 1);
    EXPECT_EQ(db.FieldNames, (Values{"keep"}));
    Values want(20, "");
    want[0] = "only";
    EXPECT_EQ(db.Records[0].Values, want);
    EXPECT_EQ(db.Records[0].Selected, 0);
    EXPECT_EQ(db.Records[0].SendState, 0);
    EXPECT_TRUE(db.Records[1].Values.empty());
    EXPECT_EQ(db.Records[1].Selected, 0);
}

TEST(Database, JapaneseFixture) {
    auto ui = ScriptedUiServices::Install();
    TPVDatabase db;
    ASSERT_TRUE(db.LoadFromFile(std::string(PELVANE_FIXTURES) + "/addressbook/japanese.csv", 1));
    ASSERT_EQ(db.Count, 3);
    EXPECT_EQ(db.Records[0].Values[0], "Mail Address");
    EXPECT_EQ(First(db.Records[1], 10),
              (Values{"taro@example.jp", kYamada + " \x91\xBE\x98\x59", kHyo + kShi, kSo + kFuto,
                      kNou + "\x97\xCD", kJuu + "\x95\xAA", "\x97\x5C\x92\xE8", "He said \"hi\", then left", "",
                      "\"quoted\""}));
    EXPECT_EQ(db.Records[2].Values[2], "a,b");
    EXPECT_EQ(db.Records[2].Values[9], kHyo + "\\");
    EXPECT_TRUE(ui->messages().empty());
}

// ------------------------------------------------------------------ writing

TEST(Database, SaveWritesThePartsExampleLine) {
    ScriptedUiServices::Install();
    TempDir dir;
    TPVDatabase db;
    db.ResetRecord(0);
    db.Records[0].Values[0] = "alpha";
    db.Records[0].Values[1] = "beta \"b\"";
    db.Records[0].Values[10] = "field 11 is never written";
    db.Count = 1;
    std::string path = dir.file("ex.csv");
    ASSERT_TRUE(db.SaveToFile(path, 1, false));
    EXPECT_EQ(TempDir::read(path), "\"alpha\",\"beta \"\"b\"\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\",\"\"\r\n");
    ASSERT_TRUE(db.SaveToFile(path, 2, false));
    EXPECT_EQ(TempDir::read(path), "\"alpha\"\t\"beta \"\"b\"\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\t\"\"\r\n");
}

TEST(Database, HeaderOnlyWithoutRecords) {
    ScriptedUiServices::Install();
    TempDir dir;
    AppPaths p = dir.makeAppPaths();
    SetAppPaths(p);
    TPVDatabase db;
    db.LoadDefaultFieldNames();
    std::string path = dir.file("h.csv");
    ASSERT_TRUE(db.SaveToFile(path, 1, true));
    EXPECT_EQ(TempDir::read(path),
              "\"Mail Address\",\"Name\",\"field3\",\"field4\",\"field5\",\"field6\",\"field7\",\"field8\","
              "\"field9\",\"field10\"\r\n");
}

TEST(Database, SaveAndReadBackGiveTheSameTenValues) {
    ScriptedUiServices::Install();
    TempDir dir;
    const std::vector<Values> records = {
        {"He said \"hi\"", "\"", "\"\"", "", " padded ", "a,b", "tab\there", "\"a\",\"b\"", "x\"", "He said \"hi\""},
        {kHyo + kShi, kSo + kFuto, kNou + "\"" + kJuu, kHyo + "\\", "\\" + kSo, kChoon + "[[Name]]",
         "ab\x81", "\x81", kYamada + ",\t" + kHyo, "end \"" + kSo + "\", " + kHyo},
        {"a \"b\", c", "\"\",\"\"", ",", "\t", "\"\t\"", "x", "", "", "", ""},
    };
    for (int format : {1, 2}) {
        SCOPED_TRACE(format);
        TPVDatabase db;
        db.FieldNames = {"Mail Address", "N\"ame", kHyo, "f4", "f5", "f6", "f7", "f8", "f9", "f,10"};
        db.FieldNames.resize(20);
        for (std::size_t i = 0; i < records.size(); ++i) {
            db.ResetRecord(static_cast<int>(i));
            for (int f = 0; f < 10; ++f) db.Records[i].Values[f] = records[i][f];
        }
        db.Count = static_cast<int>(records.size());
        std::string path = dir.file("rt" + std::to_string(format) + ".csv");
        ASSERT_TRUE(db.SaveToFile(path, format, true));
        // No byte of a double-byte character is doubled: the file holds the
        // Japanese values byte for byte.
        std::string file = TempDir::read(path);
        EXPECT_NE(file.find("\"" + kHyo + kShi + "\""), std::string::npos);
        EXPECT_NE(file.find("\"" + kHyo + "\\\""), std::string::npos);

        TPVDatabase back;
        ASSERT_TRUE(back.LoadFromFile(path, format));
        ASSERT_EQ(back.Count, 1 + static_cast<int>(records.size()));
        EXPECT_EQ(First(back.Records[0], 10), Values(db.FieldNames.begin(), db.FieldNames.begin() + 10));
        for (std::size_t i = 0; i < records.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(First(back.Records[i + 1], 10), records[i]);
        }
    }
}

TEST(Database, SaveRefusesLineBreaksAndNul) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    std::string path = dir.write("old.csv", "\"previous\"\r\n");
    for (std::string bad : {std::string("a\r\nb"), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
        TPVDatabase db;
        db.ResetRecord(0);
        db.ResetRecord(1);
        db.Records[1].Values[3] = bad;
        db.Count = 2;
        EXPECT_FALSE(db.SaveToFile(path, 1, false));
        EXPECT_EQ(TempDir::read(path), "\"previous\"\r\n");
    }
    auto m = ui->messages();
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].kind, MessageKind::Error);
    EXPECT_NE(m[0].text.find("Record 2, field 4"), std::string::npos) << m[0].text;
    EXPECT_NE(m[0].text.find(path), std::string::npos);
    // Fields 11 to 20 are not written, so a line break there does not matter.
    TPVDatabase ok;
    ok.ResetRecord(0);
    ok.Records[0].Values[12] = "x\r\ny";
    ok.Count = 1;
    EXPECT_TRUE(ok.SaveToFile(path, 1, false));
}

TEST(Database, FailedWriteKeepsThePreviousFile) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    std::string path = dir.write("book.csv", "\"previous\"\r\n");
    // The temporary file cannot be created (a folder holds its name), which
    // fails even for root.
    std::filesystem::create_directory(path + ".tmp-" + std::to_string(::getpid()));
    TPVDatabase db;
    db.ResetRecord(0);
    db.Records[0].Values[0] = "new";
    db.Count = 1;
    EXPECT_FALSE(db.SaveToFile(path, 1, true));
    EXPECT_EQ(TempDir::read(path), "\"previous\"\r\n");
    auto m = ui->messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].kind, MessageKind::Error);
    EXPECT_EQ(m[0].text, "Cannot create file " + path);

    std::string nowhere = dir.file("no/such/folder/x.csv");
    EXPECT_FALSE(db.SaveToFile(nowhere, 1, true));
    EXPECT_EQ(ui->messages().back().text, "Cannot create file " + nowhere);
    EXPECT_FALSE(FileExists(nowhere));
}

// ------------------------------------------------------------------ hostile input

TEST(Database, HostileFilesNeitherCrashNorHang) {
    auto ui = ScriptedUiServices::Install();
    TempDir dir;
    const auto started = std::chrono::steady_clock::now();
    TPVDatabase db;

    std::string longLine(8 * 1024 * 1024, 'x');
    longLine[100] = ',';
    ASSERT_TRUE(db.LoadFromFile(dir.write("long.csv", longLine + "\r\nshort"), 1));
    ASSERT_EQ(db.Count, 2);
    EXPECT_EQ(db.Records[0].Values[1].size(), longLine.size() - 101);

    std::string commas(4 * 1024 * 1024, ',');
    ASSERT_TRUE(db.LoadFromFile(dir.write("commas.csv", commas), 1));
    ASSERT_EQ(db.Count, 1);
    EXPECT_EQ(db.Records[0].Values[9].size(), commas.size() - 9);

    std::string quotes(4 * 1024 * 1024, '"');
    ASSERT_TRUE(db.LoadFromFile(dir.write("quotes.csv", quotes), 1));
    EXPECT_EQ(db.Count, 1);

    std::string leads(1024 * 1024, '\x81');
    ASSERT_TRUE(db.LoadFromFile(dir.write("leads.csv", "a,\"b\"\r\n" + leads), 1));
    EXPECT_EQ(db.Count, 2);
    ASSERT_TRUE(db.LoadFromFile(dir.write("lastlead.csv", "\"a\x81\",\"b\x81"), 1));
    EXPECT_EQ(First(db.Records[0], 2), (Values{"a\x81", "\"b\x81"}));

    // Many empty lines: progress stays bounded and the read ends.
    ASSERT_TRUE(db.LoadFromFile(dir.write("blank.csv", std::string(2 * 1024 * 1024, '\n') + "z"), 1));
    EXPECT_EQ(db.Count, 1);
    EXPECT_LT(ui->progress().size(), 30000u);

    ASSERT_TRUE(db.LoadFromFile(dir.write("nul.csv", std::string("\0\0a,b", 5)), 1));
    EXPECT_EQ(db.Count, 0);

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
}
