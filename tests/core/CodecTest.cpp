#include <gtest/gtest.h>

#include "shell/Codec.h"

TEST(Codec, LeadBytes) {
    for (int b = 0; b < 256; ++b) {
        bool lead = (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
        EXPECT_EQ(IsSjisLeadByte(static_cast<unsigned char>(b)), lead) << b;
    }
    EXPECT_EQ(SjisCharLen("\x83\x5c", 0), 2u);
    EXPECT_EQ(SjisCharLen("a\x83", 1), 1u);  // a lead byte that ends the text
}

TEST(Codec, ConvertsBothWays) {
    // "表示" (0x955C 0x8EA6): the first has a backslash as its trail byte.
    const std::string sjis = "\x95\x5c\x8e\xa6 abc \xb1";  // ... and a half-width katakana ｱ
    const std::string utf8 = "\xe8\xa1\xa8\xe7\xa4\xba abc \xef\xbd\xb1";
    EXPECT_EQ(Cp932ToUtf8(sjis), utf8);
    bool lossy = true;
    EXPECT_EQ(Utf8ToCp932(utf8, &lossy), sjis);
    EXPECT_FALSE(lossy);
}

TEST(Codec, WhatCannotBeConvertedIsReported) {
    bool lossy = false;
    // An emoji has no CP932 form: it is dropped, the rest is kept, and the caller is told.
    EXPECT_EQ(Utf8ToCp932("a\xf0\x9f\x98\x80" "b", &lossy), "ab");
    EXPECT_TRUE(lossy);
    // A lone lead byte at the end becomes a replacement character.
    EXPECT_EQ(Cp932ToUtf8("ab\x83"), "ab\xef\xbf\xbd");
}
