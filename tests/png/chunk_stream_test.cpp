// The chunk stream: signature, chunk order rules, unknown chunks, framing,
// CRC, the chunk lists and where new chunks are placed.
#include <gtest/gtest.h>

#include <cstring>

#include "png/chunk_ancillary.h"
#include "png/chunk_idat.h"
#include "png/crc32.h"
#include "png_test_util.h"
#include "support/counting_stream.h"

namespace glx::pngtest {
namespace {

Bytes greyIdat() { return zlibCompress(filterNone({{10, 20}, {30, 40}})); }

// IHDR of a 2 x 2 8-bit grey image; the image data still to come.
PngBuilder greyHead() {
    PngBuilder b;
    b.signature().ihdr(2, 2, 8, 0);
    return b;
}

std::vector<std::string> chunkTypes(const TPNGObject& img) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < img.Chunks().SlotCount(); ++i) out.push_back(img.Chunks().Item(i)->TypeName());
    return out;
}

TEST(PngChunkStream, SignatureAloneIsAnUnexpectedEndWithAnEmptyList) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, PngBuilder().signature().bytes()), EPngUnexpectedEnd);
    EXPECT_TRUE(img.IsEmpty());
}

TEST(PngChunkStream, DamagedOrShortSignatureIsRefused) {
    TPNGObject img;
    Bytes b = PngBuilder().signature().bytes();
    b[1] = 'Q';
    EXPECT_THROW(loadFromBytes(img, b), EPNGInvalidFileHeader);
    EXPECT_THROW(loadFromBytes(img, Bytes{0x89, 'P', 'N'}), EPNGInvalidFileHeader);
    EXPECT_THROW(loadFromBytes(img, Bytes{}), EPNGInvalidFileHeader);
}

TEST(PngChunkStream, FirstChunkMustBeTheHeader) {
    TPNGObject img;
    Bytes b = PngBuilder().signature().chunk("tEXt", {'a', 0, 'b'}).bytes();
    try {
        loadFromBytes(img, b);
        FAIL() << "no exception";
    } catch (const EPNGIHDRNotFirst& e) {
        EXPECT_STREQ(e.what(),
                     "This \"Portable Network Graphics\" image is not supported or it might be invalid.\r\n"
                     "(IHDR chunk is not the first)");
    }
    EXPECT_TRUE(img.IsEmpty());
}

TEST(PngChunkStream, MissingImageDataAndMissingEnd) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, greyHead().iend().bytes()), EPNGNoImageData);
    // The chunks read stay in the list.
    EXPECT_EQ(chunkTypes(img), (std::vector<std::string>{"IHDR", "IEND"}));
    EXPECT_THROW(loadFromBytes(img, greyHead().chunk("IDAT", greyIdat()).bytes()), EPngUnexpectedEnd);
}

TEST(PngChunkStream, UnknownAncillaryChunkIsKeptAndWrittenBackInPlace) {
    TPNGObject img;
    loadFromBytes(img, greyHead().chunk("abCd", {1, 2, 3}).chunk("IDAT", greyIdat()).chunk("zzZz", {}).iend().bytes());
    ASSERT_EQ(chunkTypes(img), (std::vector<std::string>{"IHDR", "abCd", "IDAT", "zzZz", "IEND"}));
    const TChunk* unknown = img.Chunks().Item(1);
    EXPECT_EQ(std::string(unknown->TypeCodeOfClass()), "");
    EXPECT_EQ(Bytes(unknown->Payload(), unknown->Payload() + unknown->PayloadSize()), (Bytes{1, 2, 3}));

    auto written = splitChunks(saveToBytes(img));
    ASSERT_EQ(written.size(), 5u);
    EXPECT_EQ(written[1].type, "abCd");
    EXPECT_EQ(written[1].payload, (Bytes{1, 2, 3}));
    EXPECT_EQ(written[3].type, "zzZz");
    EXPECT_TRUE(written[3].payload.empty());
}

TEST(PngChunkStream, UnknownCriticalChunkIsRefused) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, greyHead().chunk("AbCd", {1}).chunk("IDAT", greyIdat()).iend().bytes()),
                 EPNGUnknownCriticalChunk);
    EXPECT_EQ(chunkTypes(img), (std::vector<std::string>{"IHDR", "AbCd"}));
    // A first byte of zero counts as ancillary.
    Bytes zeroType = greyHead().chunk(std::string("\0bCd", 4), {1}).chunk("IDAT", greyIdat()).iend().bytes();
    EXPECT_NO_THROW(loadFromBytes(img, zeroType));
}

TEST(PngChunkStream, ChrmIsDroppedAndLaterImageDataSkipped) {
    TPNGObject img;
    Bytes other = zlibCompress(filterNone({{99, 99}, {99, 99}}));
    loadFromBytes(img, greyHead()
                           .chunk("cHRM", Bytes(32, 0))
                           .chunk("IDAT", greyIdat())
                           .chunk("tEXt", {'k', 0, 'v'})
                           .chunk("IDAT", other)
                           .iend()
                           .bytes());
    EXPECT_EQ(chunkTypes(img), (std::vector<std::string>{"IHDR", "IDAT", "tEXt", "IEND"}));
    EXPECT_EQ(img.PixelAt(0, 0), rgb(10, 10, 10));
    EXPECT_EQ(img.PixelAt(1, 1), rgb(40, 40, 40));
    for (const auto& c : splitChunks(saveToBytes(img))) EXPECT_NE(c.type, "cHRM");
}

TEST(PngChunkStream, CrcMismatchIsRefusedKeepingEarlierChunks) {
    TPNGObject img;
    EXPECT_THROW(loadFromBytes(img, greyHead().badCrcChunk("tEXt", {'k', 0, 'v'}).bytes()), EPngInvalidCRC);
    EXPECT_EQ(chunkTypes(img), (std::vector<std::string>{"IHDR", "tEXt"}));
    PngBuilder bad;
    bad.signature().badCrcChunk("IHDR", Bytes{0, 0, 0, 2, 0, 0, 0, 2, 8, 0, 0, 0, 0});
    EXPECT_THROW(loadFromBytes(img, bad.bytes()), EPngInvalidCRC);
}

// With checksums ignored, damaged CRCs of any chunk, the image data's
// included, no longer stop reading; everything else reads the same, under
// the limits the image is given.
TEST(PngChunkStream, ReadOptionsSetTheCrcPolicyAndTheLimits) {
    const Bytes file = greyHead().badCrcChunk("tEXt", {'k', 0, 'v'}).badCrcChunk("IDAT", greyIdat()).iend().bytes();
    TPNGObject strict;
    EXPECT_THROW(loadFromBytes(strict, file), EPngInvalidCRC);
    TPNGObject lenient;
    ReadOptions options;
    options.crc = CrcPolicy::Ignore;
    lenient.SetOptions(options);
    loadFromBytes(lenient, file);
    EXPECT_EQ(chunkTypes(lenient), (std::vector<std::string>{"IHDR", "tEXt", "IDAT", "IEND"}));
    EXPECT_EQ(lenient.PixelAt(1, 1), rgb(40, 40, 40));

    options.limits.pixels = 3;
    TPNGObject small;
    small.SetOptions(options);
    try {
        loadFromBytes(small, file);
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_STREQ(e.what(), "Picture size 2 x 2 is too large (the limit is 3 pixels, 1 x 1)");
    }
}

// Kept chunks besides the header, the image data and the end are capped:
// one more than the limit is refused naming it, and a file of millions of
// empty chunks stops there, holding no more chunks than the limit allows.
TEST(PngChunkStream, ChunksBeyondTheLimitAreRefused) {
    auto withChunks = [](int ancillary, int idatPieces) {
        PngBuilder b = greyHead();
        for (int i = 0; i < ancillary; ++i) b.chunk(i % 2 ? "zzZz" : "tEXt", {'k', 0});
        const Bytes idat = greyIdat();
        for (int i = 0; i < idatPieces; ++i) {
            const size_t from = idat.size() * size_t(i) / size_t(idatPieces);
            const size_t to = idat.size() * size_t(i + 1) / size_t(idatPieces);
            b.chunk("IDAT", Bytes(idat.begin() + static_cast<std::ptrdiff_t>(from),
                                  idat.begin() + static_cast<std::ptrdiff_t>(to)));
        }
        return b.iend().bytes();
    };
    auto readWith = [](const Bytes& file, uint32_t limit) -> std::string {
        TPNGObject img;
        ReadOptions options;
        if (limit) options.limits.chunks = limit;
        img.SetOptions(options);
        try {
            loadFromBytes(img, file);
        } catch (const ELimitExceeded& e) {
            EXPECT_LE(img.Chunks().SlotCount(), (limit ? limit : 1000) + 2);
            return e.what();
        }
        return img.PixelAt(1, 1) == rgb(40, 40, 40) ? "read" : "wrong pixels";
    };
    const struct {
        int ancillary, idatPieces;
        uint32_t limit;  // 0: the default
        const char* expected;
    } cases[] = {
        {1000, 1, 0, "read"}, {1001, 1, 0, "PNG image has more than 1000 ancillary chunks (the limit is 1000)"},
        {0, 12, 3, "read"},  // image data is not counted
        {3, 12, 3, "read"},   {4, 1, 3, "PNG image has more than 3 ancillary chunks (the limit is 3)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readWith(withChunks(c.ancillary, c.idatPieces), c.limit), c.expected)
            << c.ancillary << " chunks, limit " << c.limit;

    // Two million empty chunks around a 2 x 2 picture (24 MB).
    PngBuilder huge = greyHead();
    Bytes empty = PngBuilder().chunk("zzZz", {}).bytes();
    Bytes body;
    body.reserve(empty.size() * 2000000);
    for (int i = 0; i < 2000000; ++i) body.insert(body.end(), empty.begin(), empty.end());
    huge.raw(body).chunk("IDAT", greyIdat()).iend();
    EXPECT_EQ(readWith(huge.bytes(), 0), "PNG image has more than 1000 ancillary chunks (the limit is 1000)");
}

TEST(PngChunkStream, OversizedOrTruncatedChunkLengthIsRefusedWithoutReadingIt) {
    TPNGObject img;
    // A length of 2^31 and more, and lengths beyond the data, never reach
    // an allocation.
    for (uint32_t length : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 1000u}) {
        Bytes b = greyHead().raw(be32(length)).raw({'t', 'E', 'X', 't', 1, 2, 3}).bytes();
        EXPECT_THROW(loadFromBytes(img, b), EPngUnexpectedEnd) << length;
    }
    // A stream that ends inside the length field.
    EXPECT_THROW(loadFromBytes(img, greyHead().raw({0, 0}).bytes()), EPngUnexpectedEnd);
}

// Reading goes through one buffer: a file of many small chunks (ancillary
// ones, or header chunks that each look ahead for the image data) costs a
// few calls on the stream, not several per chunk.
TEST(PngChunkStream, ManySmallChunksCostAFewCallsOnTheStream) {
    for (const char* type : {"zzZz", "IHDR"}) {
        PngBuilder b = greyHead();
        for (int i = 0; i < 500; ++i) {
            if (std::string(type) == "IHDR") b.ihdr(2, 2, 8, 0);
            else b.chunk(type, {});
        }
        glxtest::CountingStream stream(b.chunk("IDAT", greyIdat()).iend().bytes());
        TPNGObject img;
        img.ReadFrom(stream);
        EXPECT_EQ(img.PixelAt(1, 1), rgb(40, 40, 40)) << type;
        EXPECT_EQ(img.Chunks().SlotCount(), 503u) << type;
        EXPECT_LE(stream.reads, 2) << type;
        EXPECT_LE(stream.seeks, 12) << type;
        EXPECT_EQ(stream.position(), stream.size()) << type;  // left just behind IEND
    }
}

// Image data must be able to inflate to 1/64 of the rows (deflate yields at
// most 1032 bytes a byte): 50000 rows of 101 bytes need 77 bytes of it.
// The header's picture is refused before its pixels are allocated; a run
// of exactly 77 bytes (a short zlib stream and a chunk of padding) loads,
// rows past the stream's end 0.
TEST(PngChunkStream, ImageDataMustFillASixtyFourthOfTheRows) {
    const Bytes rows = zlibCompress(filterNone({Bytes(100, 7), Bytes(100, 7)}));
    auto file = [&](size_t total) {
        PngBuilder b;
        b.signature().ihdr(100, 50000, 8, 0).chunk("tEXt", {'k', 0, 'v'}).chunk("IDAT", rows);
        b.chunk("IDAT", Bytes(total - rows.size(), 0)).iend();
        return b.bytes();
    };
    TPNGObject img;
    loadFromBytes(img, file(77));
    EXPECT_EQ(img.PixelAt(99, 1), rgb(7, 7, 7));
    EXPECT_EQ(img.PixelAt(99, 2), rgb(0, 0, 0));
    try {
        loadFromBytes(img, file(76));
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_STREQ(e.what(), "Picture size 100 x 50000 is refused: its 76 bytes of data could not fill 1/64 of it");
    }
    ASSERT_TRUE(img.HasHeader());
    EXPECT_FALSE(img.HeaderChunk().HasImage());

    // 16384 x 16384 RGB from an empty zlib stream: 65 bytes in all.
    PngBuilder tiny;
    tiny.signature().ihdr(16384, 16384, 8, 2).chunk("IDAT", zlibCompress({})).iend();
    ASSERT_EQ(tiny.bytes().size(), 65u);
    try {
        loadFromBytes(img, tiny.bytes());
        FAIL() << "no exception";
    } catch (const ELimitExceeded& e) {
        EXPECT_NE(std::string(e.what()).find("16384 x 16384"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(img.HeaderChunk().HasImage());
    // Without image data ahead, the read fails as it always did.
    PngBuilder none;
    none.signature().ihdr(16384, 16384, 8, 2).iend();
    EXPECT_THROW(loadFromBytes(img, none.bytes()), EPNGNoImageData);
}

TEST(PngChunkStream, ZeroLengthChunkWritesTwelveBytes) {
    TPNGObject img;
    TChunk chunk(img);
    chunk.SetTypeCode(makeChunkType("abCd"));
    TMemoryStream s;
    chunk.WriteFramed(s);
    const uint8_t type[4] = {'a', 'b', 'C', 'd'};
    Bytes expected = {0, 0, 0, 0, 'a', 'b', 'C', 'd'};
    Bytes crc = be32(chunkCrc(type, nullptr, 0));
    expected.insert(expected.end(), crc.begin(), crc.end());
    EXPECT_EQ(s.bytes(), expected);
}

TEST(PngChunkStream, CrcOfKnownChunks) {
    const uint8_t iend[4] = {'I', 'E', 'N', 'D'};
    EXPECT_EQ(chunkCrc(iend, nullptr, 0), 0xAE426082u);
    // Fed in pieces or at once, the register gives the same value.
    const uint8_t text[] = "The quick brown fox jumps over the lazy dog";
    uint32_t whole = finishCrc(updateCrc(kCrcStart, text, 43));
    uint32_t parts = finishCrc(updateCrc(updateCrc(kCrcStart, text, 5), text + 5, 38));
    EXPECT_EQ(whole, 0x414FA339u);
    EXPECT_EQ(parts, whole);
}

TEST(PngChunkStream, NewChunkForTypeUsesTheRegisteredClassCaseSensitively) {
    TPNGObject img;
    std::unique_ptr<TChunk> gama(NewChunkForType(img, makeChunkType("gAMA")));
    EXPECT_NE(dynamic_cast<TChunkgAMA*>(gama.get()), nullptr);
    std::unique_ptr<TChunk> lower(NewChunkForType(img, makeChunkType("gama")));
    EXPECT_EQ(dynamic_cast<TChunkgAMA*>(lower.get()), nullptr);
    EXPECT_EQ(lower->TypeName(), "gama");
    std::unique_ptr<TChunk> ztxt(NewChunkForType(img, makeChunkType("zTXt")));
    EXPECT_NE(dynamic_cast<TChunkzTXt*>(ztxt.get()), nullptr);
    EXPECT_STREQ(ztxt->TypeCodeOfClass(), "zTXt");
}

// The list owns its chunks and knows its header: the chunk in slot 0 when
// that is a header chunk, whatever was inserted or removed.
TEST(PngChunkList, SlotsInsertRemoveAndTheHeader) {
    TPNGObject img;
    TPNGList& list = img.Chunks();
    EXPECT_EQ(list.Item(0), nullptr);
    EXPECT_EQ(list.Header(), nullptr);
    TChunk* end = list.InsertAt(std::make_unique<TChunkIEND>(img), 5);  // an empty list takes it at slot 0
    ASSERT_EQ(list.SlotCount(), 1u);
    EXPECT_EQ(list.InsertAt(std::make_unique<TChunkIEND>(img), 1), nullptr);  // past a non-empty list: refused
    EXPECT_EQ(list.SlotCount(), 1u);
    EXPECT_EQ(list.Header(), nullptr);
    TChunk* header = list.InsertAt(std::make_unique<TChunkIHDR>(img), 0);
    EXPECT_EQ(list.Header(), header);
    EXPECT_EQ(&img.HeaderChunk(), header);
    TChunk* text = list.Append(std::make_unique<TChunktEXt>(img));
    EXPECT_EQ(list.Item(-1), nullptr);
    EXPECT_EQ(list.Item(3), nullptr);
    EXPECT_EQ(list.IndexOf(text), 2);
    EXPECT_EQ(text->Position(), 2);
    EXPECT_EQ(end->Position(), 1);
    // Removing hands the chunk back; removing the header forgets it.
    std::unique_ptr<TChunk> taken = list.Remove(header);
    EXPECT_EQ(taken.get(), header);
    EXPECT_EQ(list.Header(), nullptr);
    EXPECT_THROW(img.HeaderChunk(), EPNGHeaderNotPresent);
    EXPECT_EQ(list.Remove(header), nullptr);
    EXPECT_EQ(list.SlotCount(), 2u);
    list.Clear();
    EXPECT_EQ(list.SlotCount(), 0u);
}

TEST(PngChunkList, FindByClassFindsDerivedClassesInListOrder) {
    auto img = TPNGObject::CreateNew(2, 8, 1, 1);
    EXPECT_EQ(img->Chunks().FindByClass<TChunktEXt>(), nullptr);
    auto* z = img->Chunks().AddChunkOfClass<TChunkzTXt>();
    auto* t = img->Chunks().AddChunkOfClass<TChunktEXt>();
    EXPECT_EQ(img->Chunks().FindByClass<TChunktEXt>(), z);
    EXPECT_EQ(img->Chunks().FindByClass<TChunkzTXt>(), z);
    EXPECT_EQ(z->Position(), 2);
    EXPECT_EQ(t->Position(), 3);
}

TEST(PngChunkList, AddChunkOfClassPlacesChunksInFileOrder) {
    auto img = TPNGObject::CreateNew(3, 8, 4, 4);
    EXPECT_EQ(chunkTypes(*img), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
    img->Chunks().AddChunkOfClass<TChunktEXt>();
    img->Chunks().AddChunkOfClass<TChunktRNS>();
    img->Chunks().AddChunkOfClass<TChunkgAMA>();
    img->Chunks().AddChunkOfClass<TChunkpHYs>();
    img->Chunks().AddChunkOfClass<TChunktIME>();
    EXPECT_EQ(chunkTypes(*img),
              (std::vector<std::string>{"IHDR", "pHYs", "gAMA", "PLTE", "tRNS", "IDAT", "tEXt", "tIME", "IEND"}));

    // Without a palette, tRNS goes before the image data.
    auto rgbImg = TPNGObject::CreateNew(2, 8, 4, 4);
    rgbImg->Chunks().AddChunkOfClass<TChunktRNS>();
    EXPECT_EQ(chunkTypes(*rgbImg), (std::vector<std::string>{"IHDR", "tRNS", "IDAT", "IEND"}));
}

TEST(PngChunkList, AddChunkOfClassRefusals) {
    auto img = TPNGObject::CreateNew(2, 8, 4, 4);
    img->Chunks().AddChunkOfClass<TChunkgAMA>();
    try {
        img->Chunks().AddChunkOfClass<TChunkgAMA>();
        FAIL() << "second gAMA accepted";
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(),
                     "The program tried to add a existent critical chunk to the current image which is not "
                     "allowed.");
    }
    EXPECT_THROW(img->Chunks().AddChunkOfClass<TChunkIDAT>(), EPngError);
    EXPECT_THROW(img->Chunks().AddChunkOfClass<TChunkPLTE>(), EPngError);
    EXPECT_EQ(img->Chunks().SlotCount(), 4u);

    TPNGObject empty;
    try {
        empty.Chunks().AddChunkOfClass<TChunktEXt>();
        FAIL() << "chunk added to an empty image";
    } catch (const EPngError& e) {
        EXPECT_STREQ(e.what(), "It's not allowed to add a new chunk because the current image is invalid.");
    }
    EXPECT_TRUE(empty.IsEmpty());
}

}  // namespace
}  // namespace glx::pngtest
