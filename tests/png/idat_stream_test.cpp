// Image data deflated in pieces on a pool of threads, and streamed row by
// row ahead of writing: the stream inflates to the rows a one-shot deflate
// would carry, is the same bytes whatever the number of workers and however
// the data is fed, and streaming writes the file that encoding the finished
// image writes; data made for other settings or another size is never
// written in its place.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "base/exception.h"
#include "base/stream.h"
#include "png/deflate_join.h"
#include "png/deflate_pool.h"
#include "png/encode_ahead.h"
#include "png/idat_stream.h"
#include "png/idat_writer.h"
#include "png/piece_deflate.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"
#include "png_test_util.h"

namespace glx {
namespace {

using pngtest::Bytes;

// An RGBA picture with varied colour and alpha, so every filter scores
// differently from row to row.
std::unique_ptr<TPNGObject> picture(int32_t w, int32_t h) {
    auto img = TPNGObject::CreateNew(6, 8, w, h);
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = img->PixelRow(y);
        uint8_t* a = img->AlphaRow(y);
        for (int32_t x = 0; x < w; ++x) {
            p[3 * x] = static_cast<uint8_t>(x * 7 + y);
            p[3 * x + 1] = static_cast<uint8_t>((x * y) >> 2);
            p[3 * x + 2] = static_cast<uint8_t>(y * 13);
            a[x] = static_cast<uint8_t>((x + y) % 5 == 0 ? 0 : 255 - x);
        }
    }
    return img;
}

std::vector<uint8_t> written(const TPNGObject& img) {
    TMemoryStream out;
    img.WriteTo(out);
    return out.bytes();
}

// The framed IDAT chunks of a PNG file, in order.
std::vector<uint8_t> idatChunks(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> out;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
                                uint32_t(file[at + 3]);
        const size_t end = at + 12 + length;
        if (std::equal(file.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       file.begin() + static_cast<std::ptrdiff_t>(at + 8), "IDAT"))
            out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                       file.begin() + static_cast<std::ptrdiff_t>(end));
        at = end;
    }
    return out;
}

// The file img gives when it encodes itself (a copy has nothing encoded ahead).
std::vector<uint8_t> writtenFresh(const TPNGObject& img) {
    TPNGObject copy;
    copy.CopyFrom(&img);
    return written(copy);
}

// The row counts gluing would offer for img band by band: each band's last
// rows still open, at least one band.
std::vector<int32_t> bands(const TPNGObject& img, int32_t band) {
    std::vector<int32_t> counts;
    for (int32_t rows = std::min(img.Height(), band - band / 3);; rows = std::min(img.Height(), rows + band)) {
        counts.push_back(rows);
        if (rows == img.Height()) return counts;
    }
}

// Offers img's rows band by band, then finishes.
void offerInBands(EncodeAhead& ahead, const TPNGObject& img, int32_t band) {
    for (int32_t rows : bands(img, band)) ahead.offer(img, img.Width(), rows);
    ahead.finish(img);
}

// The file img gives with its rows offered ahead in bands, checking that
// what was encoded ahead is what the file holds.
std::vector<uint8_t> writtenAhead(const TPNGObject& img) {
    EncodeAhead ahead;
    offerInBands(ahead, img, 97);
    TMemoryStream chunks;
    EXPECT_TRUE(ahead.writeIfMatching(img, chunks));
    TPNGObject copy;
    copy.CopyFrom(&img);
    for (int32_t rows : bands(copy, 53)) copy.OfferFinalRows(copy.Width(), rows);
    copy.FinishEncodingAhead();
    const std::vector<uint8_t> file = written(copy);
    EXPECT_EQ(idatChunks(file), chunks.bytes());
    return file;
}

TEST(EncodeAhead, OfferedRowsWriteTheSameFileForEveryFilterSetAndLevel) {
    // 300 x 200 RGBA deflates to more than one 64 KiB chunk at level 0.
    auto img = picture(300, 200);
    for (RowFilterSet filters : {RowFilterSet(0x01), RowFilterSet(0x02), RowFilterSet(0x10), RowFilterSet(0x1F)})
        for (uint8_t level : {uint8_t(0), uint8_t(7)}) {
            img->RowFilters = filters;
            img->DeflateLevel = level;
            const std::vector<uint8_t> expected = writtenFresh(*img);
            EncodeAhead ahead;
            offerInBands(ahead, *img, 37);
            TMemoryStream chunks;
            ASSERT_TRUE(ahead.writeIfMatching(*img, chunks)) << int(filters) << " " << int(level);
            EXPECT_EQ(chunks.bytes(), idatChunks(expected)) << int(filters) << " " << int(level);
            // The same through the picture's own interface.
            for (int32_t rows = 50; rows < 200; rows += 50) img->OfferFinalRows(300, rows);
            img->FinishEncodingAhead();
            EXPECT_EQ(written(*img), expected);
        }
}

// Gluing grows the canvas: a wider one changes every row and starts over,
// and the canvas it finishes is cropped to its final size.
TEST(EncodeAhead, AWiderOrCroppedPictureStillWritesTheSameFile) {
    auto img = picture(50, 60);
    EncodeAhead ahead;
    ahead.offer(*img, 50, 40);
    img->ChangeSize(80, 70);  // every row gains columns; the new rows are the buffer's slack
    for (int32_t y = 0; y < 70; ++y) std::memset(img->AlphaRow(y) + 50, 99, 30);
    ahead.offer(*img, 80, 30);
    ahead.offer(*img, 80, 55);
    img->ChangeSize(80, 60);
    ahead.finish(*img);
    TMemoryStream chunks;
    ASSERT_TRUE(ahead.writeIfMatching(*img, chunks));
    EXPECT_EQ(chunks.bytes(), idatChunks(writtenFresh(*img)));
}

// The data stands in for encoding only for the very rows, header and
// settings it was made from.
TEST(EncodeAhead, DataForOtherSettingsRowsOrSizeIsNotWritten) {
    auto img = picture(40, 30);
    EncodeAhead ahead;
    offerInBands(ahead, *img, 10);
    TMemoryStream unused;
    img->DeflateLevel = 1;  // made at level 7
    EXPECT_FALSE(ahead.writeIfMatching(*img, unused));
    img->DeflateLevel = 7;
    img->Interlacing = 1;  // interlaced writing never takes it
    EXPECT_FALSE(ahead.writeIfMatching(*img, unused));
    img->Interlacing = 0;
    img->AlphaRow(5)[7] ^= 0x55;  // a row offered has changed
    EXPECT_FALSE(ahead.writeIfMatching(*img, unused));
    img->AlphaRow(5)[7] ^= 0x55;
    // Same memory, but colours converted through another gamma table.
    const GammaTable decode = img->DecodeGamma(), encode = img->EncodeGamma();
    GammaTable brighter = encode;
    brighter[img->PixelRow(2)[4]] ^= 1;
    img->SetGammaTables(decode, brighter);
    EXPECT_FALSE(ahead.writeIfMatching(*img, unused));
    img->SetGammaTables(decode, encode);
    EXPECT_TRUE(ahead.writeIfMatching(*img, unused));
    img->ChangeSize(40, 20);
    EXPECT_FALSE(ahead.writeIfMatching(TPNGObject(6, 8, 40, 20), unused));
    EXPECT_EQ(unused.size(), static_cast<int64_t>(idatChunks(writtenFresh(*picture(40, 30))).size()));

    // Nothing final before saving: nothing is kept, the picture encodes itself.
    auto single = picture(40, 30);
    EncodeAhead idle;
    idle.finish(*single);
    EXPECT_FALSE(idle.writeIfMatching(*single, unused));
    // A row changed after offering, through the picture's interface: the
    // file is still the one the picture gives.
    single->OfferFinalRows(40, 20);
    single->PixelRow(3)[0] ^= 1;
    single->FinishEncodingAhead();
    EXPECT_EQ(written(*single), writtenFresh(*single));
}

// The shared pool of the image writers, with workers threads, for the life
// of one scope.
class UseWorkers {
public:
    explicit UseWorkers(unsigned workers) : m_previous(setSharedDeflatePool(std::make_shared<DeflatePool>(workers))) {}
    ~UseWorkers() { setSharedDeflatePool(m_previous); }

private:
    std::shared_ptr<DeflatePool> m_previous;
};

// Framed IDAT chunks from offset on: their data sizes and their payloads
// joined into the zlib stream. Every chunk's CRC is checked.
struct Idat {
    std::vector<size_t> sizes;
    Bytes zlib;
};

Idat idatOf(const Bytes& bytes, size_t offset) {
    Idat out;
    while (offset + 12 <= bytes.size()) {
        const size_t n = (size_t(bytes[offset]) << 24) | (size_t(bytes[offset + 1]) << 16) |
                         (size_t(bytes[offset + 2]) << 8) | bytes[offset + 3];
        const uint8_t* type = &bytes[offset + 4];
        if (std::string(type, type + 4) == "IDAT") {
            EXPECT_LE(offset + 12 + n, bytes.size());
            const uLong crc = crc32(crc32(0, type, 4), type + 4, static_cast<uInt>(n));
            const uint8_t* stored = type + 4 + n;
            EXPECT_EQ(crc, (uLong(stored[0]) << 24) | (uLong(stored[1]) << 16) | (uLong(stored[2]) << 8) | stored[3]);
            out.sizes.push_back(n);
            out.zlib.insert(out.zlib.end(), type + 4, type + 4 + n);
        }
        offset += 12 + n;
    }
    return out;
}

void expectChunkSizes(const std::vector<size_t>& sizes, size_t chunkSize) {
    ASSERT_FALSE(sizes.empty());
    for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], chunkSize) << "chunk " << i;
    EXPECT_GT(sizes.back(), 0u);
    EXPECT_LE(sizes.back(), chunkSize);
}

// Data with matches at every distance up to 20000 bytes: pieces much
// smaller than that compress well only when each starts from the window of
// data before it.
Bytes repetitiveData(size_t n) {
    std::mt19937 rng(11);
    Bytes block(20000);
    for (auto& b : block) b = static_cast<uint8_t>(rng() % 64);
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = rng() % 50 == 0 ? static_cast<uint8_t>(rng()) : block[i % block.size()];
    return out;
}

// The engines this build has.
std::vector<DeflateEngine> engines() {
    std::vector<DeflateEngine> out;
    for (DeflateEngine e : {DeflateEngine::Zlib, DeflateEngine::Libdeflate})
        if (deflateEngineAvailable(e)) out.push_back(e);
    return out;
}

TEST(IdatWriter, PiecesInflateToTheDataAndDoNotDependOnWorkersOrFeeding) {
    constexpr size_t kPiece = 4096, kChunk = 997;
    const Bytes all = repetitiveData(40 * kPiece + 123);
    const std::shared_ptr<DeflatePool> pools[] = {std::make_shared<DeflatePool>(1), std::make_shared<DeflatePool>(2),
                                                  std::make_shared<DeflatePool>(4)};
    for (DeflateEngine engine : engines()) {
        for (int level = 0; level <= 9; ++level) {
            for (size_t size : {size_t(1), kPiece - 1, kPiece, kPiece + 1, 3 * kPiece + 17, all.size()}) {
                SCOPED_TRACE(testing::Message()
                             << "engine " << int(engine) << ", level " << level << ", " << size << " bytes");
                const Bytes data(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(size));
                Bytes first;
                for (const auto& pool : pools) {
                    TMemoryStream out;
                    IdatWriter writer(out, kChunk, level, pool, kPiece, engine);
                    // Fed in uneven bites that differ from one pool to the next.
                    std::mt19937 rng(pool->workers());
                    for (size_t pos = 0; pos < size;) {
                        const size_t n = std::min<size_t>(size - pos, 1 + rng() % 9000);
                        writer.write(data.data() + pos, n);
                        pos += n;
                    }
                    writer.finish();
                    if (!first.empty()) {
                        EXPECT_TRUE(out.bytes() == first) << pool->workers() << " workers";
                        continue;
                    }
                    first = out.bytes();
                    const Idat idat = idatOf(first, 0);
                    expectChunkSizes(idat.sizes, kChunk);
                    EXPECT_EQ(pngtest::zlibInflate(idat.zlib), data);
                    if (engine != DeflateEngine::Zlib) continue;
                    const Bytes oneShot = pngtest::zlibCompress(data, level);
                    if (size <= kPiece) {
                        EXPECT_EQ(idat.zlib, oneShot);  // one piece is a one-shot deflate
                    } else if (level > 0) {
                        // A fresh start at every piece would cost about
                        // 2 KiB a piece here.
                        EXPECT_LE(idat.zlib.size(), oneShot.size() + 160 * (size / kPiece)) << oneShot.size();
                    }
                }
            }
        }
    }
}

// Raw deflate of data by zlib: one stream, with its own choice of blocks.
Bytes rawDeflate(const Bytes& data, int level, int strategy, int memLevel = 8) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, memLevel, strategy), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + kDeflateJoinRoom);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size() - kDeflateJoinRoom);
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Whole streams made by zlib with every kind of block (stored, fixed and
// dynamic codes, several blocks, every number of padding bits at the end)
// join into one stream that inflates to all their data.
TEST(DeflateJoin, WholeStreamsOfEveryBlockKindJoinIntoOne) {
    const Bytes all = repetitiveData(200000);
    struct Kind {
        const char* what;
        int level, strategy, memLevel;
    };
    const Kind kinds[] = {{"stored", 0, Z_DEFAULT_STRATEGY, 8},
                          {"fixed codes", 6, Z_FIXED, 8},
                          {"dynamic codes", 9, Z_DEFAULT_STRATEGY, 8},
                          {"many small blocks", 6, Z_HUFFMAN_ONLY, 1}};
    std::mt19937 rng(5);
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.what);
        Bytes joined = {0x78, 0x9C}, expected;
        std::vector<unsigned> paddings;
        for (int piece = 0; piece < 24; ++piece) {
            const size_t n = piece < 8 ? size_t(piece) : 1 + rng() % 30000;
            const size_t from = rng() % (all.size() - n);
            const Bytes data(all.begin() + static_cast<std::ptrdiff_t>(from),
                             all.begin() + static_cast<std::ptrdiff_t>(from + n));
            Bytes stream = rawDeflate(data, kind.level, kind.strategy, kind.memLevel);
            const size_t size = stream.size();
            stream.resize(size + kDeflateJoinRoom);
            const size_t joinedSize = continueDeflateStream(stream.data(), size);
            ASSERT_GT(joinedSize, size) << "piece " << piece;
            ASSERT_LE(joinedSize, size + kDeflateJoinRoom);
            paddings.push_back(static_cast<unsigned>(joinedSize - size));
            joined.insert(joined.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(joinedSize));
            expected.insert(expected.end(), data.begin(), data.end());
        }
        const Bytes tail = rawDeflate({1, 2, 3}, 6, Z_DEFAULT_STRATEGY);
        joined.insert(joined.end(), tail.begin(), tail.end());
        expected.insert(expected.end(), {1, 2, 3});
        const auto adler = static_cast<uint32_t>(adler32(1, expected.data(), static_cast<uInt>(expected.size())));
        for (int shift = 24; shift >= 0; shift -= 8) joined.push_back(static_cast<uint8_t>(adler >> shift));
        EXPECT_EQ(pngtest::zlibInflate(joined), expected);
        if (kind.level > 0) {
            // Both ways of ending: the stored block's header fitting in the
            // padding (4 bytes added) or needing one more byte (5).
            EXPECT_NE(std::count(paddings.begin(), paddings.end(), 4u), 0);
            EXPECT_NE(std::count(paddings.begin(), paddings.end(), 5u), 0);
        }
    }
}

TEST(DeflateJoin, AnythingButOneWholeStreamIsRefusedUnchanged) {
    const Bytes data = repetitiveData(5000);
    const Bytes good = rawDeflate(data, 6, Z_DEFAULT_STRATEGY);
    Bytes syncFlushed = good;  // a stream whose last block is not final
    syncFlushed[0] &= 0xFE;
    Bytes reservedType = {0x07, 0x00};  // final block of type 3
    Bytes trailing = good;
    trailing.push_back(0);
    Bytes badStored = rawDeflate(data, 0, Z_DEFAULT_STRATEGY);
    badStored[3] ^= 1;  // length and its complement disagree
    const Bytes cases[] = {Bytes(good.begin(), good.end() - 1),
                           Bytes(good.begin(), good.begin() + 20),
                           syncFlushed,
                           reservedType,
                           trailing,
                           badStored};
    for (size_t i = 0; i < std::size(cases); ++i) {
        Bytes stream = cases[i];
        const size_t size = stream.size();
        stream.resize(size + kDeflateJoinRoom, 0xAA);
        const Bytes before = stream;
        EXPECT_EQ(continueDeflateStream(stream.data(), size), 0u) << "case " << i;
        EXPECT_TRUE(stream == before) << "case " << i;
    }
}

// A sink that fails after a number of bytes, as a full disk does.
class FailingStream : public TStream {
public:
    explicit FailingStream(size_t budget) : m_budget(budget) {}
    size_t read(void*, size_t) override { return 0; }
    size_t write(const void*, size_t count) override {
        if (count > m_budget) return 0;
        m_budget -= count;
        return count;
    }
    int64_t seek(int64_t, SeekOrigin) override { return 0; }

private:
    size_t m_budget;
};

TEST(IdatWriter, AFailingSinkRaisesAndPiecesInWorkAreDropped) {
    const Bytes data = repetitiveData(300000);
    for (unsigned workers : {1u, 2u, 4u}) {
        auto pool = std::make_shared<DeflatePool>(workers);
        FailingStream sink(5000);
        auto run = [&] {
            IdatWriter writer(sink, 1000, 1, pool, 4096);
            writer.write(data.data(), data.size());
            writer.finish();
        };
        EXPECT_THROW(run(), EWriteError) << workers << " workers";
        // The pool is still good for the next writer.
        TMemoryStream out;
        IdatWriter writer(out, 65535, 1, pool, 4096);
        writer.write(data.data(), data.size());
        writer.finish();
        EXPECT_EQ(pngtest::zlibInflate(idatOf(out.bytes(), 0).zlib), data);
    }
}

// The filter byte and filtered row of every row, as encoding the image
// gives them to deflate (Adam7 passes one after the other).
Bytes filteredRows(const TPNGObject& img) {
    const TChunkIHDR& h = img.HeaderChunk();
    const uint32_t width = h.HeaderWidth, height = h.HeaderHeight;
    const PngRowGeometry full = pngRowGeometry(h.ColorType, h.BitDepth, width);
    FilterRows rows(full.rowBytes, img.RowFilters);
    Bytes raw(full.rowBytes), out;
    auto add = [&](uint32_t length) {
        rows.length = length;
        const uint8_t f = ChooseRowFilter(raw.data(), rows, full.distance);
        out.push_back(f);
        out.insert(out.end(), rows.candidates[f].begin(), rows.candidates[f].begin() + length);
    };
    if (img.Interlacing == 0) {
        for (uint32_t y = 0; y < height; ++y) {
            loadPngRow(h, raw.data(), static_cast<int32_t>(y), 0, 1, width, img.EncodeGamma());
            add(full.rowBytes);
        }
        return out;
    }
    for (const Adam7Pass& pass : kAdam7) {
        const uint32_t passColumns = passWidth(width, pass);
        const uint32_t length = pngRowGeometry(h.ColorType, h.BitDepth, passColumns).rowBytes;
        rows.length = length;
        rows.resetPrevious();
        if (length == 0) continue;
        for (uint32_t y = pass.row0; y < height; y += pass.rowStep) {
            loadPngRow(h, raw.data(), static_cast<int32_t>(y), pass.col0, pass.colStep, passColumns, img.EncodeGamma());
            add(length);
        }
    }
    return out;
}

// Photo-like content with grain in every channel and in alpha.
std::unique_ptr<TPNGObject> grainy(uint32_t colorType, int32_t w, int32_t h) {
    auto img = TPNGObject::CreateNew(colorType, 8, w, h);
    std::mt19937 rng(static_cast<unsigned>(w * 31 + h));
    const size_t bytes = colorType == 0 ? 1 : 3;
    for (int32_t y = 0; y < h; ++y) {
        uint8_t* p = img->PixelRow(y);
        for (size_t i = 0; i < bytes * static_cast<size_t>(w); ++i)
            p[i] = static_cast<uint8_t>(i / bytes * 3 + static_cast<size_t>(y) * 2 + i % bytes * 50 + rng() % 8);
        if (uint8_t* a = img->AlphaRow(y))
            for (int32_t x = 0; x < w; ++x)
                a[x] = static_cast<uint8_t>(255 - (x + y) / 8 - static_cast<int>(rng() % 4));
    }
    return img;
}

// Filtered sizes around the piece size of either engine: grey rows carry
// width + 1 bytes.
struct SizeCase {
    const char* what;
    uint32_t colorType;
    int32_t width, height;
    size_t filteredBytes;
};
const SizeCase kSizeCases[] = {
    {"one row", 6, 100, 1, 401},
    {"a 256 KiB piece less one byte", 0, 512, 511, (size_t(256) << 10) - 1},
    {"exactly one 256 KiB piece", 0, 511, 512, size_t(256) << 10},
    {"a 256 KiB piece and one byte", 0, 480, 545, (size_t(256) << 10) + 1},
    {"a 1 MiB piece less one byte", 0, 1024, 1023, (size_t(1) << 20) - 1},
    {"exactly one 1 MiB piece", 0, 1023, 1024, size_t(1) << 20},
    {"a 1 MiB piece and one byte", 0, 16, 61681, (size_t(1) << 20) + 1},
    {"many pieces", 6, 640, 480, 480 * 2561},
};

void expectPixelsRead(const Bytes& png, const TPNGObject& img) {
    const pngtest::RefImage ref = pngtest::libpngDecode(png);
    ASSERT_EQ(ref.width, static_cast<uint32_t>(img.Width()));
    ASSERT_EQ(ref.height, static_cast<uint32_t>(img.Height()));
    const int channels = ref.channels();
    for (int32_t y = 0; y < img.Height(); ++y) {
        const uint8_t* p = img.PixelRow(y);
        const uint8_t* a = img.AlphaRow(y);
        for (int32_t x = 0; x < img.Width(); ++x) {
            if (channels == 1) {
                ASSERT_EQ(ref.sample(x, y, 0), p[x]) << x << "," << y;
            } else {
                for (int c = 0; c < 3; ++c) ASSERT_EQ(ref.sample(x, y, c), p[3 * x + 2 - c]) << x << "," << y;
                ASSERT_EQ(ref.sample(x, y, 3), a[x]) << x << "," << y;
            }
        }
    }
}

TEST(IdatWriter, ImagesAroundThePieceSizeAtEveryLevelOnBothPaths) {
    const DeflateEngine engine = defaultDeflateEngine();
    const size_t piece = deflatePieceBytes(engine);
    for (const SizeCase& c : kSizeCases) {
        auto img = grainy(c.colorType, c.width, c.height);
        const Bytes rows = filteredRows(*img);
        ASSERT_EQ(rows.size(), c.filteredBytes) << c.what;
        for (uint8_t level = 0; level <= 9; ++level) {
            SCOPED_TRACE(testing::Message() << c.what << ", level " << int(level));
            img->DeflateLevel = level;
            const Bytes finished = written(*img);
            const Idat idat = idatOf(finished, 8 + 25);  // after the signature and IHDR
            expectChunkSizes(idat.sizes, 65535);
            EXPECT_EQ(pngtest::zlibInflate(idat.zlib), rows);
            const Bytes oneShot = pngtest::zlibCompress(rows, level);
            if (engine == DeflateEngine::Zlib && rows.size() <= piece) {
                EXPECT_EQ(idat.zlib, oneShot);
            } else if (engine == DeflateEngine::Zlib) {
                EXPECT_LE(idat.zlib.size(), oneShot.size() + 256 * (rows.size() / piece));
            } else {
                // The other engine's levels are chosen to give files about
                // as small as zlib's (this grain, in rows as narrow as 16
                // pixels, is its worst case).
                EXPECT_LE(idat.zlib.size(), oneShot.size() + oneShot.size() / 200 + 64);
            }
            // Encoding ahead gives the same file.
            EXPECT_TRUE(writtenAhead(*img) == finished);
            if (level == 0 || level == 7) expectPixelsRead(finished, *img);
        }
    }
}

TEST(IdatWriter, SameBytesWithOneTwoOrFourWorkersOnBothPathsAndInterlaced) {
    auto img = grainy(6, 640, 480);
    for (uint8_t level : {uint8_t(1), uint8_t(7)}) {
        img->DeflateLevel = level;
        Bytes finished[3], streamedFile[3], interlaced[3];
        const unsigned workers[3] = {1, 2, 4};
        for (int i = 0; i < 3; ++i) {
            UseWorkers use(workers[i]);
            img->Interlacing = 0;
            finished[i] = written(*img);
            streamedFile[i] = writtenAhead(*img);
            img->Interlacing = 1;
            interlaced[i] = written(*img);
        }
        for (int i = 1; i < 3; ++i) {
            EXPECT_TRUE(finished[i] == finished[0]) << workers[i] << " workers, level " << int(level);
            EXPECT_TRUE(streamedFile[i] == finished[0]) << workers[i] << " workers, level " << int(level);
            EXPECT_TRUE(interlaced[i] == interlaced[0]) << workers[i] << " workers, level " << int(level);
        }
        EXPECT_TRUE(streamedFile[0] == finished[0]);
        // The interlaced stream carries the seven passes' rows and reads back.
        const Idat idat = idatOf(interlaced[0], 8 + 25);
        expectChunkSizes(idat.sizes, 65535);
        EXPECT_EQ(pngtest::zlibInflate(idat.zlib), filteredRows(*img));
        expectPixelsRead(interlaced[0], *img);
        img->Interlacing = 0;
    }
}

}  // namespace
}  // namespace glx
