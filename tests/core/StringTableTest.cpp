#include <gtest/gtest.h>

#include "shell/StringTable.h"

TEST(StringTable, TextsByNumber) {
    EXPECT_EQ(LoadStr(900), "Pelvane Personal");
    EXPECT_EQ(LoadStr(901), "PelvanePersonal");
    EXPECT_EQ(LoadStr(5100), "1");
    EXPECT_EQ(LoadStr(5101), "Courier");
    EXPECT_EQ(LoadStr(5102), "12");
    EXPECT_EQ(LoadStr(5302), "View Log");
    EXPECT_EQ(LoadStr(8101), "Do you want to save the changes to your Address Book? ");  // trailing blank kept
    EXPECT_EQ(LoadStr(3100), "%d items in Address Book.");
    EXPECT_EQ(LoadStr(5000), "Mail Address");
    EXPECT_EQ(LoadStr(5019), "field20");
}

TEST(StringTable, UnknownNumbersAreEmpty) {
    EXPECT_FALSE(HasStr(899));
    EXPECT_EQ(LoadStr(899), "");
    EXPECT_STREQ(LoadStrUtf8(9989), "");
}
