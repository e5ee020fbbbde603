#include <gtest/gtest.h>

#include <filesystem>

#include "base/exception.h"
#include "base/stream.h"
#include "base/string_list.h"

using namespace glx;

TEST(StringList, SplitsAtCrLfLfAndCr) {
    TStringList list;
    list.setText("a\r\nb\nc\rd");
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "b");
    EXPECT_EQ(list[2], "c");
    EXPECT_EQ(list[3], "d");

    list.setText("x\r\n\r\ny\n");
    ASSERT_EQ(list.count(), 3);
    EXPECT_EQ(list[1], "");
    EXPECT_EQ(list[2], "y");

    list.setText("\n\r");  // LF then a lone CR: two empty lines
    EXPECT_EQ(list.count(), 2);
    list.setText("");
    EXPECT_EQ(list.count(), 0);
}

TEST(StringList, IndexErrorsNameTheIndex) {
    TStringList list;
    try {
        (void)list[0];
        FAIL();
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List index out of bounds (0)");
    }
    list.add("one");
    EXPECT_THROW(list.remove(1), EListError);
    EXPECT_THROW((void)list[-1], EListError);
}

TEST(StringList, SavesWithCrLfAndReadsBack) {
    auto dir = std::filesystem::temp_directory_path() / "glx_sl_test";
    std::filesystem::create_directories(dir);
    auto path = (dir / "lines.txt").string();
    TStringList list;
    list.add("first");
    list.add("");
    list.add("последняя");
    list.saveToFile(path);
    auto bytes = readWholeFile(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "first\r\n\r\nпоследняя\r\n");
    TStringList back;
    back.loadFromFile(path);
    EXPECT_EQ(back.items(), list.items());
    std::filesystem::remove_all(dir);
}
