#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "base/byte_reader.h"
#include "base/exception.h"
#include "base/limits.h"
#include "base/stream.h"

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
    EXPECT_NO_THROW(checkPictureSize(16384, 16384));
    EXPECT_NO_THROW(checkPictureSize(65535, 1));
    EXPECT_THROW(checkPictureSize(16385, 16384), ELimitExceeded);
    EXPECT_THROW(checkPictureSize(65535, 65535), ELimitExceeded);
    EXPECT_THROW(checkPictureSize(-1, 5), ELimitExceeded);
    try {
        checkPictureSize(20000, 20000);
        FAIL();
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("20000 x 20000"), std::string::npos);
    }
    EXPECT_EQ(rowBytes(3, 24, 4), 12u);
    EXPECT_EQ(rowBytes(5, 1), 1u);
    EXPECT_EQ(rowBytes(9, 1), 2u);
}
