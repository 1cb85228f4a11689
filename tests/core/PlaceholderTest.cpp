#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "shell/Placeholder.h"
#include "shell/StringTable.h"

namespace {

using Names = std::vector<std::string>;
using PS = PlaceholderSearch;

Names DefaultNames() {
    Names n;
    for (int i = 0; i < 20; ++i) n.push_back(LoadStr(5000 + i));
    return n;
}

const std::string kHyo = "\x95\x5C";    // 表 (trail 0x5C)
const std::string kShi = "\x8E\xA6";    // 示
const std::string kChoon = "\x81\x5B";  // ー (trail 0x5B, "[")
const std::string kNamae = "\x96\xBC\x91\x4F";  // 名前

const char* KindName(PS k) {
    switch (k) {
        case PS::Inside: return "Inside";
        case PS::Backspace: return "Backspace";
        case PS::Delete: return "Delete";
    }
    return "?";
}

}  // namespace

TEST(Placeholder, MakeAndFieldPlaceholder) {
    Names n = DefaultNames();
    EXPECT_EQ(MakePlaceholder("Name"), "[[Name]]");
    EXPECT_EQ(MakePlaceholder(""), "[[]]");
    EXPECT_EQ(FieldPlaceholder(n, 0), "[[Mail Address]]");
    EXPECT_EQ(FieldPlaceholder(n, 1), "[[Name]]");
    EXPECT_EQ(FieldPlaceholder(n, 19), "[[field20]]");
    EXPECT_EQ(FieldPlaceholder(n, 20), "");
    EXPECT_EQ(FieldPlaceholder(n, -1), "");
    EXPECT_EQ(PlaceholderFieldCount, 10);
}

TEST(Placeholder, SjisFindNeverStartsAtASecondByte) {
    // ー is 0x81 0x5B: its second byte is "[".
    const std::string text = kChoon + "[Name]]" + kHyo + "[[Name]]";
    EXPECT_EQ(text.find("[[Name]]"), 1u);           // a byte search is fooled
    EXPECT_EQ(SjisFind(text, "[[Name]]"), 11u);     // the real placeholder
    EXPECT_EQ(SjisFind(kHyo + "\\", "\\"), 2u);     // 表 ends in 0x5C, the backslash after it is found
    EXPECT_EQ(SjisFind(kHyo, "\\"), std::string::npos);
    EXPECT_EQ(SjisFind("abcabc", "bc", 2), 4u);
    EXPECT_EQ(SjisFind("abc", ""), std::string::npos);
    EXPECT_EQ(SjisFind("abc", "abcd"), std::string::npos);
    EXPECT_EQ(SjisFind("abc", "c", 5), std::string::npos);
    EXPECT_EQ(SjisFind(std::string("\x81"), "\x81"), 0u);  // a lone lead byte at the end
}

struct SearchCase {
    const char* what;
    std::string text;
    int caret;
    PS kind;
    std::optional<PlaceholderSpan> expected;
};

TEST(Placeholder, SearchTable) {
    Names n = DefaultNames();
    n[2] = kNamae;  // field 3 named in Japanese
    const std::string jp = kHyo + kShi;  // 4 bytes, 2 characters
    const std::vector<SearchCase> cases = {
        // [[Name]] at 0, length 8.
        {"caret at start, Inside", "[[Name]]", 0, PS::Inside, std::nullopt},
        {"caret between the brackets, Inside", "[[Name]]", 1, PS::Inside, PlaceholderSpan{0, 8}},
        {"caret before the last bracket, Inside", "[[Name]]", 7, PS::Inside, PlaceholderSpan{0, 8}},
        {"caret at end, Inside", "[[Name]]", 8, PS::Inside, std::nullopt},
        {"caret at start, Backspace", "[[Name]]", 0, PS::Backspace, std::nullopt},
        {"caret inside, Backspace", "[[Name]]", 4, PS::Backspace, PlaceholderSpan{0, 8}},
        {"caret just after, Backspace", "[[Name]]", 8, PS::Backspace, PlaceholderSpan{0, 8}},
        {"caret one beyond, Backspace", "[[Name]]x", 9, PS::Backspace, std::nullopt},
        {"caret just before, Delete", "[[Name]]", 0, PS::Delete, PlaceholderSpan{0, 8}},
        {"caret inside, Delete", "[[Name]]", 7, PS::Delete, PlaceholderSpan{0, 8}},
        {"caret at end, Delete", "[[Name]]", 8, PS::Delete, std::nullopt},
        // Japanese before the placeholder: byte positions, not characters.
        {"Japanese prefix, Inside", jp + "[[Name]]", 5, PS::Inside, PlaceholderSpan{4, 8}},
        {"Japanese prefix, caret at char 2 = byte 4, Delete", jp + "[[Name]]", 4, PS::Delete, PlaceholderSpan{4, 8}},
        {"Japanese prefix, caret at char 2 = byte 4, Inside", jp + "[[Name]]", 4, PS::Inside, std::nullopt},
        {"Japanese prefix, caret at byte 12, Backspace", jp + "[[Name]]", 12, PS::Backspace, PlaceholderSpan{4, 8}},
        {"Japanese prefix, char position 10 is not byte 10", jp + "[[Name]]", 10, PS::Inside, PlaceholderSpan{4, 8}},
        {"Japanese field name", "a[[" + kNamae + "]]b", 3, PS::Inside, PlaceholderSpan{1, 8}},
        // A trail byte "[" does not start a placeholder.
        {"trail byte is not a bracket", kChoon + "[Name]]", 3, PS::Inside, std::nullopt},
        {"trail byte, real one after", kChoon + "[Name]][[Name]]", 10, PS::Inside, PlaceholderSpan{9, 8}},
        // Occurrences left to right; the first that passes.
        {"second occurrence", "[[Name]] [[Name]]", 12, PS::Inside, PlaceholderSpan{9, 8}},
        {"between two, Backspace takes the left", "[[Name]][[Name]]", 8, PS::Backspace, PlaceholderSpan{0, 8}},
        {"between two, Delete takes the right", "[[Name]][[Name]]", 8, PS::Delete, PlaceholderSpan{8, 8}},
        {"field 1", "to [[Mail Address]]", 10, PS::Inside, PlaceholderSpan{3, 16}},
        {"field 10", "[[field10]]", 3, PS::Inside, PlaceholderSpan{0, 11}},
        {"field 11 is not protected", "[[field11]]", 3, PS::Inside, std::nullopt},
        {"field 20 is not protected", "[[field20]]", 3, PS::Delete, std::nullopt},
        {"plain text", "Dear Name,", 5, PS::Backspace, std::nullopt},
        {"half a placeholder", "[[Name]", 3, PS::Inside, std::nullopt},
        {"empty text", "", 0, PS::Delete, std::nullopt},
        {"caret beyond the text", "[[Name]]", 50, PS::Backspace, std::nullopt},
        {"negative caret", "[[Name]]", -1, PS::Delete, std::nullopt},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " / " + KindName(c.kind));
        EXPECT_EQ(FindPlaceholder(c.text, n, c.caret, c.kind), c.expected);
    }
    EXPECT_EQ(FindPlaceholderInside("[[Name]]", n, 1), (PlaceholderSpan{0, 8}));
    EXPECT_EQ(FindPlaceholderBackspace("[[Name]]", n, 8), (PlaceholderSpan{0, 8}));
    EXPECT_EQ(FindPlaceholderDelete("[[Name]]", n, 0), (PlaceholderSpan{0, 8}));
}

TEST(Placeholder, FieldOrderDecidesBetweenNestedPlaceholders) {
    // Field 1's placeholder "[[b]]" lies inside field 2's "[[a]][[b]]".
    Names n = {"b", "a]][[b"};
    EXPECT_EQ(FindPlaceholder("[[a]][[b]]", n, 7, PS::Inside), (PlaceholderSpan{5, 5}));
    EXPECT_EQ(FindPlaceholder("[[a]][[b]]", n, 2, PS::Inside), (PlaceholderSpan{0, 10}));
    Names swapped = {"a]][[b", "b"};
    EXPECT_EQ(FindPlaceholder("[[a]][[b]]", swapped, 7, PS::Inside), (PlaceholderSpan{0, 10}));
    EXPECT_EQ(FindPlaceholder("[[x]]", Names{}, 2, PS::Inside), std::nullopt);
    EXPECT_EQ(FindPlaceholder("[[x]]", Names{"y", "x"}, 2, PS::Inside), (PlaceholderSpan{0, 5}));
}

struct WidenCase {
    const char* what;
    std::string text;
    int caret;
    int length;
    PS startSearch;
    PS endSearch;
    WidenResult expected;
};

TEST(Placeholder, WidenTable) {
    const Names n = DefaultNames();
    const std::string jp = kHyo + kShi;  // 4 bytes
    const std::string two = "x[[Name]]y[[Mail Address]]z";  // [[Name]] 1..8, [[Mail Address]] 10..25
    const std::vector<WidenCase> cases = {
        // Typing: the caret between the two left brackets moves after the placeholder.
        {"typing inside", "[[Name]]", 1, 0, PS::Inside, PS::Inside, {0, 8, true}},
        {"typing at the start", "[[Name]]", 0, 0, PS::Inside, PS::Inside, {0, 0, false}},
        {"typing at the end", "[[Name]]", 8, 0, PS::Inside, PS::Inside, {8, 0, false}},
        // Backspace just after deletes the whole placeholder; after a plain character nothing widens.
        {"backspace after", "a[[Name]]", 9, 0, PS::Backspace, PS::Backspace, {1, 8, true}},
        {"backspace after a plain character", "[[Name]]ab", 10, 0, PS::Backspace, PS::Backspace, {10, 0, false}},
        // Delete just before: start stays, length covers the placeholder.
        {"delete before", "a[[Name]]", 1, 0, PS::Delete, PS::Backspace, {1, 8, false}},
        {"delete before a plain character", "ab[[Name]]", 1, 0, PS::Delete, PS::Backspace, {1, 0, false}},
        // Selection from the middle of one placeholder to the middle of another.
        {"selection across two", two, 4, 13, PS::Inside, PS::Inside, {1, 25, true}},
        {"selection ending in plain text", two, 4, 5, PS::Inside, PS::Inside, {1, 8, true}},
        {"selection starting in plain text", two, 9, 5, PS::Inside, PS::Inside, {9, 17, false}},
        {"plain selection", "abc[[Name]]", 0, 2, PS::Inside, PS::Inside, {0, 2, false}},
        {"selection ending just after, Inside end", "[[Name]]x", 0, 8, PS::Inside, PS::Inside, {0, 8, false}},
        {"selection ending just after, Backspace end", "x[[Name]]", 0, 9, PS::Backspace, PS::Backspace, {0, 9, false}},
        {"selection starting just after, Backspace start", "[[Name]]ab", 8, 2, PS::Backspace, PS::Backspace,
         {0, 10, true}},
        {"selection inside one placeholder", "[[Name]]", 2, 3, PS::Inside, PS::Inside, {0, 8, true}},
        // Japanese text before: byte positions.
        {"Japanese prefix, typing inside", jp + "[[Name]]", 6, 0, PS::Inside, PS::Inside, {4, 8, true}},
        {"Japanese prefix, backspace after", jp + "[[Name]]", 12, 0, PS::Backspace, PS::Backspace, {4, 8, true}},
        {"Japanese prefix, selection into it", jp + "[[Name]]", 2, 4, PS::Inside, PS::Inside, {2, 10, false}},
        {"Japanese between two", "[[Name]]" + jp + "[[Mail Address]]", 3, 12, PS::Inside, PS::Inside,
         {0, 28, true}},
        {"trail-byte bracket is no placeholder", kChoon + "[Name]]", 3, 0, PS::Inside, PS::Inside, {3, 0, false}},
    };
    for (const WidenCase& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(WidenToPlaceholders(c.text, n, c.caret, c.length, c.startSearch, c.endSearch), c.expected);
    }
}

// InsertMergeField's use: with no selection and the caret strictly
// inside a placeholder, the new placeholder goes just after it.
TEST(Placeholder, InsertionPointAfterAPlaceholder) {
    const Names n = DefaultNames();
    const std::string text = kHyo + "[[Name]]" + kShi;
    WidenResult w = WidenToPlaceholders(text, n, 5, 0, PS::Inside, PS::Inside);
    ASSERT_TRUE(w.moved);
    const int caret = w.start + w.length;
    EXPECT_EQ(caret, 10);
    std::string inserted = text;
    inserted.insert(caret, FieldPlaceholder(n, 0));
    EXPECT_EQ(inserted, kHyo + "[[Name]][[Mail Address]]" + kShi);
}

TEST(Placeholder, LongTextIsQuick) {
    const Names n = DefaultNames();
    std::string text;
    for (int i = 0; i < 20000; ++i) text += kHyo + "[[Name]]";
    const int caret = static_cast<int>(text.size()) - 3;
    EXPECT_EQ(FindPlaceholder(text, n, caret, PS::Inside),
              (PlaceholderSpan{static_cast<int>(text.size()) - 8, 8}));
    EXPECT_EQ(FindPlaceholder(text, n, caret + 3, PS::Delete), std::nullopt);
}
