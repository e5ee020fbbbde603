#include "png/idat_stream.h"

#include <algorithm>

#include "base/stream.h"
#include "png/idat_writer.h"
#include "png/pixel_rows.h"
#include "png/png_object.h"

namespace glx {

IdatRecipe idatRecipeOf(const TPNGObject& image) {
    const TChunkIHDR& header = image.HeaderChunk();
    IdatRecipe r;
    r.width = header.HeaderWidth;
    r.height = header.HeaderHeight;
    r.colorType = header.ColorType;
    r.bitDepth = header.WrittenBitDepth();
    r.filters = image.RowFilters;
    r.level = image.DeflateLevel;
    r.chunkSize = image.IdatChunkSize();
    r.encodeGamma = image.EncodeGamma();
    return r;
}

namespace {

// Collects written bytes in blocks of at most kBlock bytes.
class BlockSink : public TStream {
public:
    static constexpr size_t kBlock = size_t(1) << 20;
    size_t read(void*, size_t) override { return 0; }
    size_t write(const void* buffer, size_t count) override {
        const auto* p = static_cast<const uint8_t*>(buffer);
        size_t left = count;
        while (left > 0) {
            if (blocks.empty() || blocks.back().size() == kBlock) {
                blocks.emplace_back();
                blocks.back().reserve(kBlock);
            }
            std::vector<uint8_t>& b = blocks.back();
            const size_t n = std::min(left, kBlock - b.size());
            b.insert(b.end(), p, p + n);
            p += n;
            left -= n;
        }
        m_size += static_cast<int64_t>(count);
        return count;
    }
    int64_t seek(int64_t, SeekOrigin) override { return m_size; }
    std::vector<std::vector<uint8_t>> blocks;

private:
    int64_t m_size = 0;
};

}  // namespace

struct IdatStream::State {
    explicit State(const IdatRecipe& r)
        : recipe(r),
          geometry(pngRowGeometry(r.colorType, r.bitDepth, r.width)),
          filterRows(geometry.rowBytes, r.filters),
          writer(out, static_cast<size_t>(r.chunkSize), r.level) {}
    IdatRecipe recipe;
    PngRowGeometry geometry;
    FilterRows filterRows;
    BlockSink out;
    IdatWriter writer;
    uint32_t rows = 0;
};

IdatStream::IdatStream(const IdatRecipe& recipe) : m_state(std::make_unique<State>(recipe)) {}

IdatStream::~IdatStream() = default;

size_t IdatStream::rowBytes() const { return m_state->geometry.rowBytes; }

uint32_t IdatStream::rows() const { return m_state->rows; }

void IdatStream::addRow(const uint8_t* pngRow) {
    State& s = *m_state;
    // The same steps, in the same pieces, as writing the finished image.
    const uint8_t f = ChooseRowFilter(pngRow, s.filterRows, s.geometry.distance);
    s.writer.write(&f, 1);
    s.writer.write(s.filterRows.candidates[f].data(), s.geometry.rowBytes);
    ++s.rows;
}

std::unique_ptr<PreparedIdat> IdatStream::finish() {
    State& s = *m_state;
    s.writer.finish();
    auto prepared = std::make_unique<PreparedIdat>();
    prepared->recipe = s.recipe;
    prepared->recipe.height = s.rows;
    prepared->blocks = std::move(s.out.blocks);
    return prepared;
}

}  // namespace glx
