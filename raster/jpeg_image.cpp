#include "raster/jpeg_image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <span>

// The JPEG library's headers need <cstdio> first and C linkage.
extern "C" {
#include <jerror.h>
#include <jpeglib.h>
}

#include "base/limits.h"
#include "base/stream.h"
#include "base/stream_reader.h"
#include "base/strutil.h"
#include "raster/bitmap.h"
#include "raster/canvas.h"

namespace glx {

struct TJPEGImage::TJPEGData {
    std::vector<uint8_t> bytes;
    int32_t width = 0, height = 0;
    bool grayscale = false;
};

TJPEGDefaults& jpegDefaults() {
    static TJPEGDefaults defaults;
    return defaults;
}

namespace {

// ------------------------------------------------------------------------
// Library glue. Fatal library errors longjmp back to the function that
// armed the jump; only the small functions below call setjmp, and none of
// them keeps an object with a destructor alive across a library call.

constexpr int kTooManyScans = -1;

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    int code = 0;
};

extern "C" void onErrorExit(j_common_ptr info) {
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    err->code = err->pub.msg_code;
    std::longjmp(err->jump, 1);
}
// Warnings and trace messages are dropped.
extern "C" void onEmitMessage(j_common_ptr, int) {}
extern "C" void onOutputMessage(j_common_ptr) {}

void setupErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = onErrorExit;
    err.pub.emit_message = onEmitMessage;
    err.pub.output_message = onOutputMessage;
}

// Stops runaway progressive files: more scans than the cap is an error.
extern "C" void onProgress(j_common_ptr info) {
    if (!info->is_decompressor) return;
    auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > kMaxJpegScans) {
        auto* err = reinterpret_cast<ErrorManager*>(info->err);
        err->code = kTooManyScans;
        std::longjmp(err->jump, 1);
    }
}

// Source over the bytes in memory. All data is there from the start, so a
// request for more is the end of the file: a fatal error, which makes a
// truncated file fail instead of decoding grey rows.
extern "C" void srcInit(j_decompress_ptr) {}
extern "C" boolean srcFill(j_decompress_ptr info) {
    ERREXIT(info, JERR_INPUT_EOF);
    return FALSE;
}
extern "C" void srcSkip(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    jpeg_source_mgr* src = info->src;
    if (static_cast<unsigned long>(count) > src->bytes_in_buffer) ERREXIT(info, JERR_INPUT_EOF);
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}
extern "C" void srcTerm(j_decompress_ptr) {}

// ------------------------------------------------------------------------
// Reading a JPEG file as far as its format goes: from its start-of-image
// marker to its end-of-image marker, the way the library walks it. Segments
// are read by their lengths; bytes that no length covers (entropy-coded
// data, stray bytes between segments) run to the next marker that is not a
// restart marker. Nothing after the end-of-image marker is read, and each
// stretch of uncovered bytes is read no further than the most that a
// Huffman-coded scan of the frame can take: 64 coefficients of at most 32
// bits per 8 x 8 block and component, doubled for stuffed bytes, plus a
// restart marker per block, and 64 KiB to spare (arithmetic coding, which
// codes tighter, stays far below it). What lies beyond can only be padding:
// a picture padded to gigabytes is read as its few kilobytes.

constexpr uint64_t kStretchBytesPerBlock = 2 * 64 * 4 + 2;
constexpr uint64_t kStretchSlack = uint64_t(64) << 10;

class JpegCollector {
public:
    explicit JpegCollector(StreamReader& reader) : m_r(reader) {
        m_bytes.reserve(static_cast<size_t>(std::min<int64_t>(reader.remaining(), int64_t(64) << 20)));
    }

    // Appends the next piece of the file (a marker with its segment, or the
    // bytes up to and including the next marker); false when nothing more
    // comes.
    bool pull() {
        const size_t before = m_bytes.size();
        if (m_state == State::Start) {
            appendFromReader(2);
            const bool soi = m_bytes.size() == 2 && m_bytes[0] == 0xFF && m_bytes[1] == 0xD8;
            m_state = soi ? State::Markers : State::Done;
        } else if (m_state == State::Markers) {
            uint8_t code = 0;
            if (!scanToMarker(code) || code == 0xD9) {
                m_state = State::Done;
            } else if (code >= 0xC0 && (code < 0xD0 || code > 0xD8)) {
                // A marker with a segment; the others stand alone.
                if (!segment(code)) m_state = State::Done;
                m_stretch = 0;
            }
        }
        return m_bytes.size() > before;
    }

    std::vector<uint8_t>& bytes() { return m_bytes; }

private:
    enum class State { Start, Markers, Done };

    // Appends up to count bytes from the reader; returns how many came.
    size_t appendFromReader(size_t count) {
        const size_t at = m_bytes.size();
        m_bytes.resize(at + count);
        const size_t got = m_r.readSome(m_bytes.data() + at, count);
        m_bytes.resize(at + got);
        return got;
    }

    // Appends uncovered bytes up to and including the code byte of the next
    // marker: 0xFF, any fill bytes, then a code other than 0 (0xFF 0x00 is
    // a stuffed data byte). False at the end of the stream or of the budget.
    bool scanToMarker(uint8_t& code) {
        bool marker = false;  // inside 0xFF ... at the moment
        for (;;) {
            const std::span<const uint8_t> view = m_r.peek(StreamReader::kBufferSize);
            if (view.empty()) return false;
            size_t n = 0;
            if (marker) {
                code = view[0];
                n = 1;
            } else {
                const void* ff = std::memchr(view.data(), 0xFF, view.size());
                n = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - view.data()) + 1 : view.size();
            }
            if (m_stretch + n > m_budget) n = static_cast<size_t>(m_budget - m_stretch);
            m_bytes.insert(m_bytes.end(), view.begin(), view.begin() + static_cast<std::ptrdiff_t>(n));
            m_r.skip(n);
            m_stretch += n;
            if (n == 0) return false;  // the budget is spent
            if (marker && code != 0xFF) {
                if (code != 0) return true;
                marker = false;
            } else if (!marker) {
                marker = m_bytes.back() == 0xFF;
            }
        }
    }

    // The 2-byte length and the segment it covers; false when the stream
    // ends first.
    bool segment(uint8_t code) {
        if (appendFromReader(2) < 2) return false;
        const size_t length = (size_t(m_bytes[m_bytes.size() - 2]) << 8) | m_bytes.back();
        const size_t payload = length >= 2 ? length - 2 : 0;
        const size_t at = m_bytes.size();
        if (appendFromReader(payload) < payload) return false;
        const bool frame = code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frame) noteFrame(std::span<const uint8_t>(m_bytes.data() + at, payload));
        return true;
    }

    // A frame header: the budget of a stretch follows its blocks.
    void noteFrame(std::span<const uint8_t> p) {
        if (p.size() < 6) return;
        const uint64_t height = (uint64_t(p[1]) << 8) | p[2];
        const uint64_t width = (uint64_t(p[3]) << 8) | p[4];
        uint64_t hMax = 1, vMax = 1, perMcu = 0;
        for (size_t i = 6; i + 2 < p.size() && (i - 6) / 3 < p[5]; i += 3) {
            const uint64_t h = std::max<uint64_t>(p[i + 1] >> 4, 1), v = std::max<uint64_t>(p[i + 1] & 15u, 1);
            hMax = std::max(hMax, h);
            vMax = std::max(vMax, v);
            perMcu += h * v;
        }
        const uint64_t mcus = ((width + 8 * hMax - 1) / (8 * hMax)) * ((height + 8 * vMax - 1) / (8 * vMax));
        m_budget = std::max(m_budget, kStretchSlack + kStretchBytesPerBlock * mcus * std::max<uint64_t>(perMcu, 1));
    }

    StreamReader& m_r;
    std::vector<uint8_t> m_bytes;
    State m_state = State::Start;
    uint64_t m_stretch = 0;  // uncovered bytes since the last segment
    uint64_t m_budget = kStretchSlack;  // most uncovered bytes in one stretch
};

// A source that hands the library the collector's bytes as they come, so
// that the frame header is read (and an oversized picture refused) before
// the rest of the file.
struct CollectingSource {
    jpeg_source_mgr pub;  // first: the library sees only this part
    JpegCollector* collector;
    size_t delivered;
    std::exception_ptr error;  // a failure of the reader, passed on after the jump
};

extern "C" boolean collectFill(j_decompress_ptr info) {
    auto* src = reinterpret_cast<CollectingSource*>(info->src);
    std::vector<uint8_t>& bytes = src->collector->bytes();
    try {
        while (src->delivered == bytes.size() && src->collector->pull()) {
        }
    } catch (...) {
        src->error = std::current_exception();
    }
    if (src->error) ERREXIT(info, JERR_FILE_READ);
    if (src->delivered == bytes.size()) ERREXIT(info, JERR_INPUT_EOF);
    info->src->next_input_byte = bytes.data() + src->delivered;
    info->src->bytes_in_buffer = bytes.size() - src->delivered;
    src->delivered = bytes.size();
    return TRUE;
}

extern "C" void collectSkip(j_decompress_ptr info, long count) {
    if (count <= 0) return;
    auto n = static_cast<unsigned long>(count);
    jpeg_source_mgr* src = info->src;
    while (n > src->bytes_in_buffer) {
        n -= static_cast<unsigned long>(src->bytes_in_buffer);
        src->next_input_byte += src->bytes_in_buffer;
        src->bytes_in_buffer = 0;
        collectFill(info);
    }
    src->next_input_byte += n;
    src->bytes_in_buffer -= n;
}

struct DecodeOptions {
    int scale = 0;
    bool smoothing = true;
    bool grayscale = false;
    bool quantize = false;
    bool fast = false;
};

struct Decompressor {
    jpeg_decompress_struct info;
    ErrorManager err;
    jpeg_source_mgr src;
    jpeg_progress_mgr progress;
    bool created = false;
    bool cmyk = false;

    Decompressor() {
        std::memset(&info, 0, sizeof info);
        std::memset(&src, 0, sizeof src);
        std::memset(&progress, 0, sizeof progress);
    }
    ~Decompressor() {
        if (created) jpeg_destroy_decompress(&info);
    }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// Each of the following returns 0 or the library's message code
// (kTooManyScans for the scan cap).
// Over bytes in memory when source is null, else over the collecting source.
int createDecompressor(Decompressor& d, const Limits& limits, const uint8_t* data, size_t size,
                       CollectingSource* source = nullptr) {
    setupErrors(d.err);
    d.info.err = &d.err.pub;
    if (setjmp(d.err.jump)) return d.err.code;
    d.created = true;  // destroying a half-created decompressor is safe
    jpeg_create_decompress(&d.info);
    jpeg_source_mgr& src = source ? source->pub : d.src;
    src.init_source = srcInit;
    src.fill_input_buffer = source ? collectFill : srcFill;
    src.skip_input_data = source ? collectSkip : srcSkip;
    src.resync_to_restart = jpeg_resync_to_restart;
    src.term_source = srcTerm;
    src.next_input_byte = data;
    src.bytes_in_buffer = size;
    d.info.src = &src;
    d.progress.progress_monitor = onProgress;
    d.info.progress = &d.progress;
    // The library's own working memory (coefficient buffers of multi-scan
    // files) stays within the same bound as pixel buffers; there is no
    // backing store, so exceeding it is a fatal error.
    d.info.mem->max_memory_to_use = static_cast<long>(limits.bufferBytes);
    return 0;
}

int readHeader(Decompressor& d) {
    if (setjmp(d.err.jump)) return d.err.code;
    jpeg_read_header(&d.info, TRUE);
    return 0;
}

int startDecompress(Decompressor& d, const DecodeOptions& o) {
    if (setjmp(d.err.jump)) return d.err.code;
    jpeg_read_header(&d.info, TRUE);
    d.info.scale_num = 1;
    d.info.scale_denom = 1u << o.scale;
    d.info.do_block_smoothing = o.smoothing ? TRUE : FALSE;
    const J_COLOR_SPACE in = d.info.jpeg_color_space;
    d.cmyk = in == JCS_CMYK || in == JCS_YCCK;
    if (o.grayscale) {
        d.info.out_color_space = JCS_GRAYSCALE;
    } else if (d.cmyk) {
        d.info.out_color_space = JCS_CMYK;  // converted to BGR row by row
    } else {
        d.info.out_color_space = o.quantize ? JCS_RGB : JCS_EXT_BGR;
    }
    if (o.quantize && !d.cmyk) {
        d.info.quantize_colors = TRUE;
        d.info.desired_number_of_colors = 236;
    }
    if (o.fast) {
        d.info.dct_method = JDCT_IFAST;
        d.info.two_pass_quantize = FALSE;
        d.info.dither_mode = JDITHER_ORDERED;
    }
    jpeg_start_decompress(&d.info);
    return 0;
}

// Decodes every row into rows of `stride` bytes starting at `base`, top row
// first. CMYK rows go through `scratch` (4 bytes a pixel) and are turned
// into blue-green-red.
int readRows(Decompressor& d, uint8_t* base, size_t stride, uint8_t* scratch) {
    if (setjmp(d.err.jump)) return d.err.code;
    const bool inverted = d.info.saw_Adobe_marker;
    while (d.info.output_scanline < d.info.output_height) {
        uint8_t* target = base + static_cast<size_t>(d.info.output_scanline) * stride;
        JSAMPROW row = d.cmyk ? scratch : target;
        jpeg_read_scanlines(&d.info, &row, 1);
        if (d.cmyk) {
            for (JDIMENSION x = 0; x < d.info.output_width; ++x) {
                const uint8_t* s = scratch + 4 * static_cast<size_t>(x);
                int c = s[0], m = s[1], y = s[2], k = s[3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                uint8_t* o = target + 3 * static_cast<size_t>(x);
                o[0] = static_cast<uint8_t>(y * k / 255);
                o[1] = static_cast<uint8_t>(m * k / 255);
                o[2] = static_cast<uint8_t>(c * k / 255);
            }
        }
    }
    return 0;
}

// Destination into a growing malloc'd buffer.
struct Compressor {
    jpeg_compress_struct info;
    ErrorManager err;
    jpeg_destination_mgr dest;
    unsigned char* buffer = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    bool created = false;

    Compressor() {
        std::memset(&info, 0, sizeof info);
        std::memset(&dest, 0, sizeof dest);
    }
    ~Compressor() {
        if (created) jpeg_destroy_compress(&info);
        std::free(buffer);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

Compressor* compressorOf(j_compress_ptr info) {
    return reinterpret_cast<Compressor*>(reinterpret_cast<char*>(info) - offsetof(Compressor, info));
}

extern "C" void destInit(j_compress_ptr info) {
    Compressor* c = compressorOf(info);
    c->capacity = 1 << 16;
    c->buffer = static_cast<unsigned char*>(std::malloc(c->capacity));
    if (!c->buffer) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    info->dest->next_output_byte = c->buffer;
    info->dest->free_in_buffer = c->capacity;
}
extern "C" boolean destEmpty(j_compress_ptr info) {
    Compressor* c = compressorOf(info);
    const size_t old = c->capacity;
    auto* grown = static_cast<unsigned char*>(std::realloc(c->buffer, old * 2));
    if (!grown) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    c->buffer = grown;
    c->capacity = old * 2;
    info->dest->next_output_byte = c->buffer + old;
    info->dest->free_in_buffer = c->capacity - old;
    return TRUE;
}
extern "C" void destTerm(j_compress_ptr info) {
    Compressor* c = compressorOf(info);
    c->used = c->capacity - info->dest->free_in_buffer;
}

struct EncodeOptions {
    int quality = 90;
    bool grayscale = false;
    bool progressive = false;
};

int createCompressor(Compressor& c) {
    setupErrors(c.err);
    c.info.err = &c.err.pub;
    if (setjmp(c.err.jump)) return c.err.code;
    c.created = true;
    jpeg_create_compress(&c.info);
    c.dest.init_destination = destInit;
    c.dest.empty_output_buffer = destEmpty;
    c.dest.term_destination = destTerm;
    c.info.dest = &c.dest;
    return 0;
}

int compressRows(Compressor& c, const uint8_t* base, size_t stride, int32_t width, int32_t height,
                 const EncodeOptions& o) {
    if (setjmp(c.err.jump)) return c.err.code;
    c.info.image_width = static_cast<JDIMENSION>(width);
    c.info.image_height = static_cast<JDIMENSION>(height);
    c.info.input_components = 3;
    c.info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c.info);
    jpeg_set_quality(&c.info, o.quality, TRUE);
    if (o.grayscale) jpeg_set_colorspace(&c.info, JCS_GRAYSCALE);
    if (o.progressive) jpeg_simple_progression(&c.info);
    jpeg_start_compress(&c.info, TRUE);
    while (c.info.next_scanline < c.info.image_height) {
        JSAMPROW row = const_cast<uint8_t*>(base + static_cast<size_t>(c.info.next_scanline) * stride);
        jpeg_write_scanlines(&c.info, &row, 1);
    }
    jpeg_finish_compress(&c.info);
    return 0;
}

[[noreturn]] void fail(int code) {
    if (code == kTooManyScans) throw EJPEG(formatMessage("JPEG file has more than %d scans", kMaxJpegScans));
    throw EJPEG(formatMessage("JPEG error #%d", code));
}

}  // namespace

// ------------------------------------------------------------------------

TJPEGImage::TJPEGImage() : TJPEGSettings(jpegDefaults()), m_smoothing(jpegDefaults().Smoothing) {}

TJPEGImage::~TJPEGImage() = default;

std::unique_ptr<TGraphic> TJPEGImage::NewEmpty() const { return std::make_unique<TJPEGImage>(); }

void TJPEGImage::CopyFrom(const TGraphic* source) {
    if (auto* jpeg = dynamic_cast<const TJPEGImage*>(source)) {
        if (jpeg == this) return;
        m_data = jpeg->m_data;
        m_bitmap.reset();
        if (jpeg->m_bitmap) {
            m_bitmap = std::make_unique<TBitmap>();
            m_bitmap->assign(*jpeg->m_bitmap);
            m_decodedWith = jpeg->m_decodedWith;
        }
        NotifyChange();
        return;
    }
    if (auto* bitmap = dynamic_cast<const TBitmap*>(source)) {
        m_data = std::make_shared<TJPEGData>();
        m_bitmap = std::make_unique<TBitmap>();
        m_bitmap->assign(*bitmap);
        m_bitmap->SetTransparent(false);
        NotifyChange();
        return;
    }
    TGraphic::CopyFrom(source);
}

void TJPEGImage::CopyTo(TGraphic& dest) const {
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->assign(Bitmap());
        return;
    }
    throw EConvertError(formatMessage("Cannot assign a %s to a %s", ClassName(), dest.ClassName()));
}

void TJPEGImage::PaintOn(TCanvas& canvas, const TRect& rect) const {
    if (IsEmpty()) return;
    canvas.DrawScaled(rect, &Bitmap());
}

bool TJPEGImage::IsEmpty() const {
    if (m_data && !m_data->bytes.empty()) return false;
    return !m_bitmap || m_bitmap->IsEmpty();
}

bool TJPEGImage::bitmapCurrent() const {
    if (!m_bitmap) return false;
    return !(m_data && !m_data->bytes.empty()) || m_decodedWith == decodeKey();
}

int32_t TJPEGImage::Width() const {
    if (bitmapCurrent()) return m_bitmap->Width();
    if (!m_data) return 0;
    const int32_t d = 1 << static_cast<int>(Scale);
    return (m_data->width + d - 1) / d;
}

int32_t TJPEGImage::Height() const {
    if (bitmapCurrent()) return m_bitmap->Height();
    if (!m_data) return 0;
    const int32_t d = 1 << static_cast<int>(Scale);
    return (m_data->height + d - 1) / d;
}

void TJPEGImage::SetWidth(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetHeight(int32_t) { throw EInvalidGraphicOperation("Cannot change the size of a JPEG image"); }

void TJPEGImage::SetSmoothing(bool value) {
    if (value == m_smoothing) return;
    m_smoothing = value;
    // The decoded pixels are only a cache when there are compressed bytes;
    // a copied-in bitmap is the content itself and is kept.
    if (m_data && !m_data->bytes.empty()) m_bitmap.reset();
    NotifyChange();
}

void TJPEGImage::DropBitmap() {
    if (m_data && !m_data->bytes.empty()) m_bitmap.reset();
}

const std::vector<uint8_t>& TJPEGImage::Data() const {
    static const std::vector<uint8_t> none;
    return m_data ? m_data->bytes : none;
}

void TJPEGImage::ReadFrom(TStream& stream) {
    // The old content goes first: a failed read leaves an empty picture.
    m_data = std::make_shared<const TJPEGData>();
    m_bitmap.reset();

    auto data = std::make_shared<TJPEGData>();
    StreamReader reader(stream);
    if (!reader.atEnd()) {
        try {
            // The frame header is read from the file as it comes; the rest
            // of the file's bytes are kept for decoding later.
            JpegCollector collector(reader);
            CollectingSource source{{}, &collector, 0, nullptr};
            Decompressor d;
            int code = createDecompressor(d, ReadLimits(), nullptr, 0, &source);
            if (!code) code = readHeader(d);
            if (source.error) std::rethrow_exception(source.error);
            if (code) {
                // Sides above the library's own maximum (65500) are refused by
                // it before the limits are asked; the message names the size.
                if (code == JERR_IMAGE_TOO_BIG)
                    checkPictureSize(ReadLimits(), d.info.image_width, d.info.image_height, 24);
                fail(code);
            }
            checkPictureSize(ReadLimits(), d.info.image_width, d.info.image_height, 24);
            data->width = static_cast<int32_t>(d.info.image_width);
            data->height = static_cast<int32_t>(d.info.image_height);
            data->grayscale = d.info.jpeg_color_space == JCS_GRAYSCALE;
            ProgressiveEncoding = jpeg_has_multiple_scans(&d.info);
            while (collector.pull()) {
            }
            data->bytes = std::move(collector.bytes());
            if (data->bytes.capacity() / 2 > data->bytes.size()) data->bytes.shrink_to_fit();
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("Out of memory");
        }
        reader.syncStream();
    }
    m_data = std::move(data);
    NotifyChange();
}

void TJPEGImage::WriteTo(TStream& stream) const {
    encode();
    const auto& bytes = Data();
    stream.writeBuffer(bytes.data(), bytes.size());
}

void TJPEGImage::Compress() { encode(); }

const TBitmap& TJPEGImage::Bitmap() const {
    decode();
    return *m_bitmap;
}

int TJPEGImage::decodeKey() const {
    return static_cast<int>(Scale) | (m_smoothing ? 4 : 0) | (Grayscale ? 8 : 0) |
           (PixelFormat == TJPEGPixelFormat::Bits8 ? 16 : 0) | (Performance == TJPEGPerformance::BestSpeed ? 32 : 0);
}

void TJPEGImage::decode() const {
    if (bitmapCurrent()) return;
    if (!m_data || m_data->bytes.empty()) {
        m_bitmap = std::make_unique<TBitmap>();
        return;
    }

    DecodeOptions options;
    options.scale = static_cast<int>(Scale);
    options.smoothing = m_smoothing;
    options.grayscale = Grayscale;
    options.quantize = Grayscale || PixelFormat == TJPEGPixelFormat::Bits8;
    options.fast = Performance == TJPEGPerformance::BestSpeed;

    Decompressor d;
    if (int code = createDecompressor(d, ReadLimits(), m_data->bytes.data(), m_data->bytes.size())) fail(code);
    if (int code = startDecompress(d, options)) fail(code);
    const int32_t width = static_cast<int32_t>(d.info.output_width);
    const int32_t height = static_cast<int32_t>(d.info.output_height);
    checkPictureSize(ReadLimits(), width, height, 24);

    const bool indexed = d.info.quantize_colors;
    Dib dib(width, height, indexed ? 8 : 24);
    std::vector<uint8_t> scratch(d.cmyk ? 4 * static_cast<size_t>(width) : 0);
    if (int code = readRows(d, dib.bits(), dib.stride(), scratch.data())) fail(code);
    if (indexed) {
        // The palette is the library's colour map (one grey component, or red, green, blue).
        std::vector<RGBQuad> table(static_cast<size_t>(d.info.actual_number_of_colors));
        for (size_t i = 0; i < table.size(); ++i) {
            const bool grey = d.info.out_color_components == 1;
            uint8_t r = d.info.colormap[0][i];
            uint8_t g = grey ? r : d.info.colormap[1][i];
            uint8_t b = grey ? r : d.info.colormap[2][i];
            table[i] = RGBQuad{b, g, r, 0};
        }
        dib.colorTable() = std::move(table);
    }
    auto bitmap = std::make_unique<TBitmap>();
    bitmap->SetDib(std::move(dib));
    m_bitmap = std::move(bitmap);
    m_decodedWith = decodeKey();
}

void TJPEGImage::encode() const {
    if (m_data && !m_data->bytes.empty()) return;
    auto data = std::make_shared<TJPEGData>();
    if (m_bitmap && !m_bitmap->IsEmpty()) {
        const Dib& source = m_bitmap->Pixels();
        // The compressor reads 24-bit blue-green-red rows.
        Dib converted;
        const Dib* rows = &source;
        if (source.bitsPerPixel() != 24) {
            converted = Dib(source.width(), source.height(), 24);
            for (int32_t y = 0; y < source.height(); ++y) source.rowToBGR(y, 0, source.width(), converted.row(y));
            rows = &converted;
        }
        EncodeOptions options;
        options.quality = CompressionQuality < 1 ? 1 : (CompressionQuality > 100 ? 100 : CompressionQuality);
        options.grayscale = Grayscale;
        options.progressive = ProgressiveEncoding;

        Compressor c;
        if (int code = createCompressor(c)) fail(code);
        if (int code = compressRows(c, rows->bits(), rows->stride(), rows->width(), rows->height(), options))
            fail(code);
        data->bytes.assign(c.buffer, c.buffer + c.used);
        data->width = rows->width();
        data->height = rows->height();
        data->grayscale = Grayscale;
        m_decodedWith = decodeKey();
    }
    m_data = std::move(data);
}

void setJpegOptions(TJPEGImage& image) {
    image.CompressionQuality = 100;
    image.ProgressiveEncoding = false;
    image.SetSmoothing(false);
}

}  // namespace glx
