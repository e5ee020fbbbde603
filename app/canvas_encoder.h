// Encodes the finished rows of the RGBA gluing canvas on a worker thread
// while later pictures are still being read and placed, so that most of
// the deflate work overlaps with them. The rows are copied out in file
// order as they become final; when the canvas gets wider they are handed
// again from the top. At saving, the encoded data stands in for encoding
// the canvas only when a checksum of all its rows matches the rows that
// were handed, so the file is byte for byte the same either way.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "png/idat_stream.h"

namespace glx {
class TPNGObject;
}

namespace glx::app {

class CanvasEncoder {
public:
    CanvasEncoder();
    // Stops the worker (after the row it is on) and drops its work.
    ~CanvasEncoder();
    CanvasEncoder(const CanvasEncoder&) = delete;
    CanvasEncoder& operator=(const CanvasEncoder&) = delete;

    // Rows [0, rows) of canvas, width pixels wide, will not change any more
    // unless the canvas gets wider. Waits while much is queued.
    void rowsFinal(const TPNGObject& canvas, int32_t width, int32_t rows);
    // For the canvas at its final size: hands the remaining rows, waits for
    // the worker and, when everything matches, gives the canvas the encoded
    // data. Otherwise the canvas is left to encode itself.
    void attach(TPNGObject& canvas);

private:
    struct Block {
        uint64_t generation;
        IdatRecipe recipe;  // of the generation's first block
        uint32_t rows;
        std::vector<uint8_t> bytes;
    };
    void hand(const TPNGObject& canvas, int32_t width, int32_t toRow);
    void work();

    // Main thread only.
    uint64_t m_generation = 0;
    int32_t m_width = 0;
    int32_t m_handed = 0;
    uint32_t m_crc = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Block> m_queue;
    size_t m_queuedBytes = 0;
    bool m_done = false;  // no more blocks
    bool m_stop = false;
    bool m_failed = false;
    bool m_finished = false;
    std::exception_ptr m_error;  // a failure that is not a shortage of memory
    uint64_t m_resultGeneration = 0;
    std::unique_ptr<PreparedIdat> m_result;
    std::thread m_thread;
};

}  // namespace glx::app
