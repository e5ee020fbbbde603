#include <gtest/gtest.h>

#include "base/exception.h"
#include "base/strutil.h"

using namespace glx;

TEST(IntegerReading, AcceptsDecimalHexAndSignForms) {
    EXPECT_EQ(strToIntDef("42", -1), 42);
    EXPECT_EQ(strToIntDef("  -17", 0), -17);
    EXPECT_EQ(strToIntDef("+5", 0), 5);
    EXPECT_EQ(strToIntDef("$1F", 0), 31);
    EXPECT_EQ(strToIntDef("x12", 0), 18);
    EXPECT_EQ(strToIntDef("X12", 0), 18);
    EXPECT_EQ(strToIntDef("0x10", 0), 16);
    EXPECT_EQ(strToIntDef("0XfF", 0), 255);
    EXPECT_EQ(strToIntDef("-$10", 0), -16);
    EXPECT_EQ(strToIntDef("2147483647", 0), 2147483647);
    EXPECT_EQ(strToIntDef("-2147483648", 0), INT32_MIN);
    EXPECT_EQ(strToIntDef("$FFFFFFFF", 0), -1);
}

TEST(IntegerReading, RefusesPartialOrOversizedTextWithTheDefault) {
    EXPECT_EQ(strToIntDef("", 7), 7);
    EXPECT_EQ(strToIntDef("   ", 7), 7);
    EXPECT_EQ(strToIntDef("12a", 7), 7);
    EXPECT_EQ(strToIntDef("12 ", 7), 7);  // trailing blanks are not consumed
    EXPECT_EQ(strToIntDef("-", 7), 7);
    EXPECT_EQ(strToIntDef("$", 7), 7);
    EXPECT_EQ(strToIntDef("0x", 7), 7);
    EXPECT_EQ(strToIntDef("2147483648", 7), 7);
    EXPECT_EQ(strToIntDef("-2147483649", 7), 7);
    EXPECT_EQ(strToIntDef("$100000000", 7), 7);
    EXPECT_EQ(strToIntDef("99999999999999999999999", 7), 7);
    EXPECT_EQ(strToIntDef("1.5", 7), 7);
}

TEST(IntegerReading, StrictFormNamesTheText) {
    EXPECT_EQ(strToInt("3"), 3);
    try {
        strToInt("abc");
        FAIL() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    EXPECT_THROW(strToInt(""), EConvertError);
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanning) {
    EXPECT_EQ(replaceAll("14:35:07", ":", ""), "143507");
    EXPECT_EQ(replaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(replaceAll("abc", "b", "bb"), "abbc");
    EXPECT_EQ(replaceAll("abc", "x", "y"), "abc");
    EXPECT_EQ(replaceAll("", "x", "y"), "");
}

TEST(PathPieces, ExtensionFolderAndName) {
    EXPECT_EQ(extractFileExt("/a/b.c/d"), "");
    EXPECT_EQ(extractFileExt("/a/b.c/d.PNG"), ".PNG");
    EXPECT_EQ(extractFileExt("x.tar.gz"), ".gz");
    EXPECT_EQ(extractFileExt("noext"), "");
    EXPECT_EQ(extractFileExt("dot."), ".");
    EXPECT_EQ(extractFilePath("/a/b/c.png"), "/a/b/");
    EXPECT_EQ(extractFilePath("c.png"), "");
    EXPECT_EQ(extractFileName("/a/b/c.png"), "c.png");
    EXPECT_EQ(changeFileExt("/usr/bin/glumixer", ".txt"), "/usr/bin/glumixer.txt");
    EXPECT_EQ(changeFileExt("/opt/x.y/tool.bin", ".txt"), "/opt/x.y/tool.txt");
    EXPECT_EQ(upperCaseAscii("v4x"), "V4X");
}
