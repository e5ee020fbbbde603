#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"
#include "support/messages.h"

using namespace glx;
namespace fs = std::filesystem;

class TempDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("glx_stream_" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    size_t fileCount() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir), {})); }
    fs::path dir;
};

TEST_F(TempDir, SafeWriteReplacesOnlyOnCommit) {
    auto target = (dir / "out.bin").string();
    writeWholeFile(target, "old", 3);
    {
        SafeFileStream s(target);
        s.writeBuffer("new content", 11);
        // Not committed: the target keeps its bytes and the temporary goes.
    }
    auto bytes = readWholeFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "old");
    EXPECT_EQ(fileCount(), 1u);

    {
        SafeFileStream s(target);
        s.writeBuffer("new", 3);
        s.commit();
    }
    bytes = readWholeFile(target);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
    EXPECT_EQ(fileCount(), 1u);
}

TEST_F(TempDir, SafeWriteIntoMissingFolderFails) {
    EXPECT_THROW(SafeFileStream((dir / "no" / "x").string()), EFCreateError);
}

TEST_F(TempDir, FileStreamRefusesFoldersAndMissingFiles) {
    EXPECT_THROW(TFileStream(dir.string(), FileAccess::Read), EFOpenError);
    EXPECT_THROW(TFileStream((dir / "missing").string(), FileAccess::Read), EFOpenError);
}

TEST(MemoryStream, ReadsWritesAndSeeks) {
    TMemoryStream m;
    m.writeBuffer("abcdef", 6);
    EXPECT_EQ(m.size(), 6);
    m.setPosition(2);
    char buf[3] = {};
    m.readBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "cde");
    EXPECT_THROW(m.readBuffer(buf, 2), EReadError);
    m.seek(-1, SeekOrigin::End);
    EXPECT_EQ(m.position(), 5);
}

TEST(ByteReader, ReadsBothByteOrdersAndStopsAtTheEnd) {
    const uint8_t data[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    ByteReader r(data, sizeof data);
    EXPECT_EQ(r.u16le(), 0x3412);
    r.seek(0);
    EXPECT_EQ(r.u32be(), 0x12345678u);
    EXPECT_EQ(r.remaining(), 1u);
    EXPECT_THROW(r.u16le(), EReadError);
    EXPECT_EQ(r.position(), 4u);  // a failed read does not move
    EXPECT_THROW(r.skip(2), EReadError);
    EXPECT_THROW(r.seek(6), EReadError);
}

TEST(Limits, RefusesPicturesAboveThePixelLimit) {
    const Limits limits;
    EXPECT_NO_THROW(checkPictureSize(limits, 16384, 16384));
    EXPECT_NO_THROW(checkPictureSize(limits, 65535, 1));
    EXPECT_THROW(checkPictureSize(limits, 16385, 16384), ELimitExceeded);
    EXPECT_THROW(checkPictureSize(limits, 65535, 65535), ELimitExceeded);
    EXPECT_THROW(checkPictureSize(limits, -1, 5), ELimitExceeded);
    EXPECT_EQ(rowBytes(3, 24, 4), 12u);
    EXPECT_EQ(rowBytes(5, 1), 1u);
    EXPECT_EQ(rowBytes(9, 1), 2u);
}

// Every refusal names the limit in force, whichever limits the caller gave.
TEST(Limits, MessagesNameTheLimitInForce) {
    Limits small;
    small.pixels = uint64_t(1) << 22;
    small.bufferBytes = uint64_t(64) << 20;
    small.dataShare = 16;
    Limits odd;
    odd.pixels = 1000;
    using glxtest::messageOf;
    const struct {
        std::string got, expected;
    } cases[] = {
        {messageOf([] { checkPictureSize(Limits{}, 20000, 20000); }),
         "Picture size 20000 x 20000 is too large (the limit is 268435456 pixels, 16384 x 16384)"},
        {messageOf([&] { checkPictureSize(small, 2049, 2048); }),
         "Picture size 2049 x 2048 is too large (the limit is 4194304 pixels, 2048 x 2048)"},
        {messageOf([&] { checkPictureSize(odd, 40, 26); }),
         "Picture size 40 x 26 is too large (the limit is 1000 pixels, 31 x 31)"},
        {messageOf([&] { checkPictureSize(small, 2048, 2048); }), "(no exception)"},
        {messageOf([&] { checkCanvasExtent(small, int64_t(1) << 31, 1); }),
         "Picture size 2147483648 x 1 is too large (the limit is 4194304 pixels, 2048 x 2048)"},
        {messageOf([] { checkDataCanFill(Limits{}, 100, 100, 3, 3, 10000); }),
         "Picture size 100 x 100 is refused: its 3 bytes of data could not fill 1/64 of it"},
        {messageOf([&] { checkDataCanFill(small, 100, 100, 3, 3, 10000); }),
         "Picture size 100 x 100 is refused: its 3 bytes of data could not fill 1/16 of it"},
        {messageOf([&] { checkDataCanFill(small, 100, 100, 625, 625, 10000); }), "(no exception)"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected);
}
