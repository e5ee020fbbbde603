// Joining whole raw deflate streams into one. A compressor without a flush
// (one call, one complete stream) still makes pieces of a longer stream:
// the final-block bit of each piece's last block is cleared and an empty
// stored block brings its end to a byte boundary, where the next piece's
// first block may begin.
#pragma once

#include <cstddef>
#include <cstdint>

namespace glx {

// stream holds size bytes of one complete raw deflate stream; capacity is at
// least size + kDeflateJoinRoom. Rewrites it in place to continue into
// whatever follows and returns its new size, or 0 when the bytes are not
// exactly one well-formed deflate stream (nothing is changed then). Finding
// the last block means decoding the block headers and skipping each block's
// codes, without producing the data.
constexpr size_t kDeflateJoinRoom = 5;
size_t continueDeflateStream(uint8_t* stream, size_t size);

}  // namespace glx
