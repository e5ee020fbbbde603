#include "png/png_write_queue.h"

#include <algorithm>
#include <exception>

#include "base/stream.h"
#include "png/deflate_pool.h"
#include "png/png_object.h"

namespace glx {

struct PngWriteQueue::Write : PoolTask {
    std::unique_ptr<TPNGObject> picture;
    std::unique_ptr<SafeFileStream> file;
    std::exception_ptr error;
    uint64_t bytes = 0;

    void run() noexcept override {
        try {
            picture->WriteTo(*file);
        } catch (...) {
            error = std::current_exception();
        }
        picture.reset();  // its memory goes as soon as it is written
    }
};

uint64_t pictureBytes(const TPNGObject& picture) {
    const uint64_t pixels = uint64_t(std::max(picture.Width(), 0)) * uint64_t(std::max(picture.Height(), 0));
    return pixels * (picture.AlphaRow(0) ? 4 : 3);
}

PngWriteQueue::PngWriteQueue() : m_pool(sharedDeflatePool()) {}

PngWriteQueue::~PngWriteQueue() { abandon(); }

void PngWriteQueue::submit(std::unique_ptr<TPNGObject> picture, const FileAt& file) {
    auto write = std::make_shared<Write>();
    write->file = std::make_unique<SafeFileStream>(file, SafeFileStream::CommitSync::Deferred);
    write->bytes = pictureBytes(*picture);
    write->picture = std::move(picture);
    m_pending.push_back(write);
    m_pendingBytes += write->bytes;
    m_pool->submit(write);
}

void PngWriteQueue::commitOldest() {
    if (m_pending.empty()) return;
    std::shared_ptr<Write> write = m_pending.front();
    m_pool->wait(*write);
    m_pending.pop_front();
    m_pendingBytes -= write->bytes;
    // The file is this caller's from here: a failed write's temporary file
    // goes at once, whoever else still holds the task.
    const std::unique_ptr<SafeFileStream> file = std::move(write->file);
    if (write->error) std::rethrow_exception(write->error);
    file->commit();
}

void PngWriteQueue::abandon() {
    // A write that has started finishes on its thread (it owns what it
    // touches); the temporary files go with the writes.
    for (auto& write : m_pending) {
        if (!DeflatePool::drop(*write)) m_pool->wait(*write);
        write->file.reset();
    }
    m_pending.clear();
    m_pendingBytes = 0;
}

}  // namespace glx
