// Writing a sequence of PNG files while the caller makes the next picture:
// each picture handed in is encoded into a temporary file beside its target
// on the writer's pool, and the files take their final names strictly in
// the order the pictures were handed in, when the caller commits them. A
// failure belongs to its own picture: it is raised when that picture is
// committed, and later pictures can be abandoned without a trace, so the
// files written are exactly those writing one picture after the other
// would have left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace glx {

class TPNGObject;
class DeflatePool;
struct FileAt;

class PngWriteQueue {
public:
    PngWriteQueue();
    // Abandons what was not committed.
    ~PngWriteQueue();
    PngWriteQueue(const PngWriteQueue&) = delete;
    PngWriteQueue& operator=(const PngWriteQueue&) = delete;

    // Starts writing picture to file (through a temporary file whose data
    // is left to the caller to make durable, see SafeFileStream). Opening
    // the temporary file fails here.
    void submit(std::unique_ptr<TPNGObject> picture, const FileAt& file);
    size_t pending() const { return m_pending.size(); }
    // Bytes of pixel memory the pending pictures hold.
    uint64_t pendingBytes() const { return m_pendingBytes; }
    // Waits for the oldest picture, then gives its file its final name;
    // raises that picture's failure.
    void commitOldest();
    // Drops every picture not committed; their temporary files go.
    void abandon();

private:
    struct Write;
    std::shared_ptr<DeflatePool> m_pool;
    std::deque<std::shared_ptr<Write>> m_pending;
    uint64_t m_pendingBytes = 0;
};

// Bytes of pixel memory a picture holds (its planes together).
uint64_t pictureBytes(const TPNGObject& picture);

}  // namespace glx
