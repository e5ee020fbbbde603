#include "app/canvas_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "base/exception.h"

#include "png/pixel_rows.h"
#include "png/png_object.h"

namespace glx::app {

namespace {

// Rows are handed in blocks of about this many bytes, and the producer
// waits while this much is queued (the worker is usually the slower side).
constexpr size_t kBlockBytes = size_t(1) << 20;
constexpr size_t kQueueBytes = size_t(4) << 20;

uint32_t crcOf(uint32_t crc, const uint8_t* data, size_t n) {
    return static_cast<uint32_t>(crc32_z(crc, data, n));
}

}  // namespace

CanvasEncoder::CanvasEncoder() : m_thread([this] { work(); }) {}

CanvasEncoder::~CanvasEncoder() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CanvasEncoder::hand(const TPNGObject& canvas, int32_t width, int32_t toRow) {
    IdatRecipe recipe = idatRecipeOf(canvas);
    recipe.width = static_cast<uint32_t>(width);
    recipe.height = 0;
    TChunkIHDR& header = canvas.HeaderChunk();
    const size_t rowBytes = pngRowGeometry(recipe.colorType, recipe.bitDepth, recipe.width).rowBytes;
    while (m_handed < toRow) {
        Block block{m_generation, recipe, 0, {}};
        const int32_t count =
            std::min<int32_t>(toRow - m_handed, static_cast<int32_t>(std::max<size_t>(1, kBlockBytes / rowBytes)));
        block.bytes.resize(rowBytes * static_cast<size_t>(count));
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* row = block.bytes.data() + rowBytes * static_cast<size_t>(i);
            loadPngRow(header, row, m_handed + i, 0, 1, recipe.width, canvas.EncodeGamma());
            m_crc = crcOf(m_crc, row, rowBytes);
        }
        block.rows = static_cast<uint32_t>(count);
        m_handed += count;
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_failed || m_queuedBytes < kQueueBytes; });
        if (m_failed) return;
        m_queuedBytes += block.bytes.size();
        m_queue.push_back(std::move(block));
        lock.unlock();
        m_changed.notify_all();
    }
}

void CanvasEncoder::rowsFinal(const TPNGObject& canvas, int32_t width, int32_t rows) {
    if (width != m_width) {
        // A wider canvas changes every row: start over from the top.
        ++m_generation;
        m_width = width;
        m_handed = 0;
        m_crc = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.clear();  // rows of the narrower canvas are of no use any more
        m_queuedBytes = 0;
    }
    if (rows > m_handed) hand(canvas, width, rows);
}

void CanvasEncoder::attach(TPNGObject& canvas) {
    if (canvas.Interlacing != 0) return;
    const int32_t width = canvas.Width(), height = canvas.Height();
    // Nothing was final before saving (a single band): no overlap to win,
    // the canvas encodes itself.
    if (m_handed == 0 || width != m_width) return;
    rowsFinal(canvas, width, height);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_done = true;
    }
    m_changed.notify_all();

    // While the worker finishes: the checksum of every row as it is now.
    TChunkIHDR& header = canvas.HeaderChunk();
    const size_t rowBytes = pngRowGeometry(header.ColorType, header.BitDepth, static_cast<uint32_t>(width)).rowBytes;
    std::vector<uint8_t> row(rowBytes);
    uint32_t crc = 0;
    for (int32_t y = 0; y < height; ++y) {
        loadPngRow(header, row.data(), y, 0, 1, static_cast<uint32_t>(width), canvas.EncodeGamma());
        crc = crcOf(crc, row.data(), rowBytes);
    }

    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_finished; });
    if (m_error) std::rethrow_exception(m_error);
    if (m_failed || !m_result || m_resultGeneration != m_generation || m_handed != height || crc != m_crc) return;
    IdatRecipe expected = idatRecipeOf(canvas);
    if (!(m_result->recipe == expected)) return;
    canvas.SetPreparedImageData(std::shared_ptr<const PreparedIdat>(std::move(m_result)));
}

void CanvasEncoder::work() {
    std::unique_ptr<IdatStream> stream;
    uint64_t generation = 0;
    try {
        for (;;) {
            Block block;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_changed.wait(lock, [&] { return m_stop || !m_queue.empty() || m_done; });
                if (m_stop) break;
                if (m_queue.empty()) {
                    // Every row is in: end the stream of the last generation.
                    lock.unlock();
                    std::unique_ptr<PreparedIdat> result = stream ? stream->finish() : nullptr;
                    lock.lock();
                    m_result = std::move(result);
                    m_resultGeneration = generation;
                    break;
                }
                block = std::move(m_queue.front());
                m_queue.pop_front();
                m_queuedBytes -= block.bytes.size();
            }
            m_changed.notify_all();
            if (!stream || block.generation != generation) {
                stream = std::make_unique<IdatStream>(block.recipe);
                generation = block.generation;
            }
            const size_t rowBytes = stream->rowBytes();
            for (uint32_t i = 0; i < block.rows; ++i) {
                stream->addRow(block.bytes.data() + rowBytes * i);
                if ((i & 63) == 63) {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    if (m_stop) break;
                }
            }
        }
    } catch (...) {
        // Out of memory: the canvas encodes itself at saving, and meets the
        // same trouble there if it is real. Anything else is kept and raised
        // where the encoded data would have been used.
        std::lock_guard<std::mutex> lock(m_mutex);
        try {
            throw;
        } catch (const EOutOfMemory&) {
        } catch (const std::bad_alloc&) {
        } catch (...) {
            m_error = std::current_exception();
        }
        m_failed = true;
        m_queue.clear();
        m_queuedBytes = 0;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
    }
    m_changed.notify_all();
}

}  // namespace glx::app
