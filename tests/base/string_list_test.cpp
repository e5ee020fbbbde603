#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "base/exception.h"
#include "base/line_reader.h"
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

// Files are read line by line with the same line rules as a text, only as
// far as the caller asks, and only from regular files.
TEST(LineReader, SameLinesAsTheTextAndOnlyAsFarAsAsked) {
    const auto dir = std::filesystem::temp_directory_path() / ("glx_lines_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "t.txt").string();
    for (const std::string text : {"a\r\nb\nc\rd", "x\r\n\r\ny\n", "", "\r", "one\r\rthree\r\n", "tail\n\n"}) {
        writeWholeFile(path, text.data(), text.size());
        TStringList expected;
        expected.setText(text);
        LineReader reader(path);
        std::vector<std::string> got;
        std::string line;
        while (reader.next(line)) got.push_back(line);
        EXPECT_EQ(got, expected.items()) << text;
        TStringList loaded;
        loaded.loadFromFile(path);
        EXPECT_EQ(loaded.items(), expected.items()) << text;
    }
    // A long line comes back in pieces of the length asked for.
    const std::string text = "abcdefg\nh";
    writeWholeFile(path, text.data(), text.size());
    LineReader reader(path);
    std::string line;
    ASSERT_TRUE(reader.next(line, 3));
    EXPECT_EQ(line, "abc");
    ASSERT_TRUE(reader.next(line, 3));
    EXPECT_EQ(line, "def");
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, "g");
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line, "h");
    EXPECT_FALSE(reader.next(line));
    // Special files are refused at once instead of blocking.
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_THROW(LineReader{fifo}, EFOpenError);
    EXPECT_THROW(LineReader{dir.string()}, EFOpenError);
    std::filesystem::remove_all(dir);
}
