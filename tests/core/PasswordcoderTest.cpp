#include <gtest/gtest.h>

#include "document/Passwordcoder.h"

TEST(Passwordcoder, EveryByteValueSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    std::string encoded = EncodePassword(all);
    ASSERT_EQ(encoded.size(), 512u);
    EXPECT_EQ(encoded.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(DecodePassword(encoded), all);
}

TEST(Passwordcoder, KnownForms) {
    struct Case {
        std::string plain;
        std::string scrambled;
    };
    const Case cases[] = {
        {"abc", "362616"},
        {"", ""},
        {"\x93\xfa\x96\x7b", "b769af39"},  // a Japanese word (CP932): trail bytes above 0x7F
        {std::string("\0\x01", 2), "1000"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodePassword(c.plain), c.scrambled) << c.scrambled;
        EXPECT_EQ(DecodePassword(c.scrambled), c.plain) << c.scrambled;
    }
}

TEST(Passwordcoder, LenientDecoding) {
    struct Case {
        std::string scrambled;
        std::string plain;
    };
    const Case cases[] = {
        {"36261", std::string("\x16\x26\x03", 3)},  // odd count: the last digit is a byte of its own
        {"6", "\x06"},
        {"6x", std::string("\0", 1)},  // reversed "x6": first character not a digit gives 0
        {"x6", "\x06"},                // reversed "6x": the pair stops at the first digit
        {"16ZZ", std::string("\0\x61", 2)},
        {"36261A", "\xa1\x62\x63"},  // upper-case digits are read too
    };
    for (const Case& c : cases) EXPECT_EQ(DecodePassword(c.scrambled), c.plain) << c.scrambled;
}

TEST(Passwordcoder, LongPasswordsAreKeptWhole) {
    std::string longPassword(5000, 'p');
    EXPECT_EQ(DecodePassword(EncodePassword(longPassword)), longPassword);
}
