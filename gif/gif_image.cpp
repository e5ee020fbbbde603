#include "gif/gif_image.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include "base/limits.h"
#include "base/stream.h"
#include "gif/gif_input.h"
#include "gif/gif_lzw.h"
#include "gif/gif_render.h"
#include "raster/picture.h"

namespace glx {

bool PrebuildBitmaps = false;

namespace {

constexpr int kWarning = 1;
const char* const kLoading = "Loading...";

}  // namespace

void reportGifWarning(const TGIFImage* image, const void* sender, int severity, const std::string& message) {
    if (image) image->ReportWarning(sender, severity, message);
}

// ---------------------------------------------------------------- colour maps

void TGIFColorMap::LoadFromStream(GifInput& input, int count) {
    Clear();
    std::vector<uint8_t> raw(static_cast<size_t>(count) * 3);
    input.readExact(raw.data(), raw.size());
    m_entries.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < m_entries.size(); ++i) m_entries[i] = Entry{raw[i * 3], raw[i * 3 + 1], raw[i * 3 + 2]};
}

TColor TGIFColorMap::ColorAt(int index) const {
    if (index < 0 || index >= EntryCount()) {
        ReportWarning(kWarning, "Invalid color index");
        if (m_entries.empty()) throw GIFException("Color table is empty");
        index = 0;
    }
    const Entry& e = m_entries[static_cast<size_t>(index)];
    return rgb(e.Red, e.Green, e.Blue);
}

void TGIFColorMap::ReportWarning(int severity, const std::string& message) const {
    if (m_owner) m_owner->ReportWarning(severity, message);
}

// ---------------------------------------------------------------- header

int TGIFHeader::BitsPerPixel() const {
    int count = m_globalColors.EntryCount();
    if (count == 0) return 0;
    int bits = 1;
    while ((1 << bits) < count) ++bits;
    return bits;
}

void TGIFHeader::Clear() {
    m_width = m_height = 0;
    m_flags = m_background = m_aspect = 0;
    m_globalColors.Clear();
}

static bool isGifSignature(const uint8_t* sig) {
    return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F';
}

void TGIFHeader::LoadFromStream(GifInput& input) {
    // The signature's version bytes are accepted whatever they hold. Some
    // files carry 4 bytes of something else in front of the signature.
    size_t start = input.position();
    uint8_t sig[6];
    input.readExact(sig, 6);
    if (!isGifSignature(sig)) {
        input.setPosition(start);
        input.skip(4);
        input.readExact(sig, 6);
        if (!isGifSignature(sig)) throw GIFException("Invalid GIF signature");
    }
    uint8_t lsd[7];
    input.readExact(lsd, 7);
    m_width = static_cast<uint16_t>(lsd[0] | (lsd[1] << 8));
    m_height = static_cast<uint16_t>(lsd[2] | (lsd[3] << 8));
    m_flags = lsd[4];
    m_background = lsd[5];
    m_aspect = lsd[6];
    // The logical screen is only a size here; whoever makes a canvas of it
    // checks it then (a file without frames needs none).
    if (m_flags & kGifColorMapFlag) m_globalColors.LoadFromStream(input, 2 << (m_flags & kGifColorMapSizeMask));
    else m_globalColors.Clear();
}

// ---------------------------------------------------------------- trailer

void TGIFTrailer::LoadFromStream(GifInput& input) {
    uint8_t b;
    if (input.readByte(b) && b != ';') ReportWarning(kWarning, "Invalid Image trailer");
}

// ---------------------------------------------------------------- frames

TGIFSubImage::TGIFSubImage(TGIFImage* image)
    : TGIFItem(image), m_localColors(this), m_extensions(std::make_unique<TGIFExtensionList>(image)) {}

TGIFSubImage::~TGIFSubImage() {
    // Extensions refer back to the frame while they are destroyed.
    m_extensions->DeleteAll();
}

const TGIFColorMap& TGIFSubImage::EffectiveColors() const {
    if (m_localColors.EntryCount() > 0) return m_localColors;
    if (m_image && m_image->ScreenHeader().GlobalColors().EntryCount() > 0)
        return m_image->ScreenHeader().GlobalColors();
    return m_localColors;
}

uint8_t TGIFSubImage::fillValue() const { return m_hasTransparency && m_gce ? m_gce->TransparentIndex() : 0; }

void TGIFSubImage::decodeRows(const GifRowSink& sink) const {
    // Warnings were reported when the data was first read.
    GifInput input(m_imageData);
    decodeGifRows(
        input, m_width, m_height, IsInterlaced(), [](const std::string&) {}, sink);
}

const std::vector<uint8_t>& TGIFSubImage::IndexData() const {
    if (!m_indexDecoded && HasIndexData()) {
        std::vector<uint8_t> indices(static_cast<size_t>(m_width) * static_cast<size_t>(m_height), fillValue());
        decodeRows([&](int y, const uint8_t* values, int count) {
            std::copy(values, values + count, indices.begin() + static_cast<ptrdiff_t>(y) * m_width);
            return true;
        });
        m_indexData = std::move(indices);
        m_indexDecoded = true;
    }
    return m_indexData;
}

uint8_t* TGIFSubImage::RowAt(int y) {
    if (y < 0 || y >= m_height) throw GIFException("Invalid pixel coordinates");
    if (m_width == 0 || m_height == 0) throw GIFException("Image is empty");
    if (IndexData().empty()) {
        checkPictureSize(m_image->ReadLimits(), m_width, m_height, 8);
        m_indexData.assign(static_cast<size_t>(m_width) * static_cast<size_t>(m_height), 0);
        m_indexDecoded = true;
    }
    return m_indexData.data() + static_cast<size_t>(y) * static_cast<size_t>(m_width);
}

uint8_t TGIFSubImage::PixelAt(int x, int y) {
    if (x < 0 || x >= m_width) throw GIFException("Invalid pixel coordinates");
    return RowAt(y)[x];
}

int TGIFSubImage::DisposalMethod() const { return m_gce ? m_gce->DisposalMethod() : 0; }

void TGIFSubImage::Clear() {
    m_extensions->DeleteAll();
    m_localColors.Clear();
    m_imageData.clear();
    m_imageData.shrink_to_fit();
    m_anyTransparent = false;
    m_indexData.clear();
    m_indexData.shrink_to_fit();
    m_indexDecoded = false;
    m_left = m_top = m_width = m_height = 0;
    m_flags = 0;
    m_hasDescriptor = false;
    m_hasTransparency = false;
    m_gce = nullptr;
    dropCache();
}

void TGIFSubImage::LoadFromStream(GifInput& input) {
    Clear();
    m_extensions->LoadFromStream(input, *this);

    // A frame made of extensions only ends at the trailer, a zero byte or
    // the end of the data.
    uint8_t next;
    if (!input.readByte(next)) return;
    input.back();
    if (next == ';' || next == 0x00) return;

    // The separator is not checked: whatever byte ended the extension run
    // stands in for ",".
    uint8_t desc[10];
    input.readExact(desc, 10);
    m_separator = desc[0];
    m_left = desc[1] | (desc[2] << 8);
    m_top = desc[3] | (desc[4] << 8);
    m_width = desc[5] | (desc[6] << 8);
    m_height = desc[7] | (desc[8] << 8);
    m_flags = desc[9];
    m_hasDescriptor = true;
    if (m_width == 0 || m_height == 0) {
        m_width = m_image->Width();
        m_height = m_image->Height();
        ReportWarning(kWarning, "Image exceeds Logical Screen size");
    }
    if (m_flags & kGifColorMapFlag) m_localColors.LoadFromStream(input, 2 << (m_flags & kGifColorMapSizeMask));

    checkPictureSize(m_image->ReadLimits(), m_width, m_height, 8);
    // The data is decoded once here, row by row, because where it ends (and
    // so where the next block starts) and whether it is sound show only then;
    // the pixels themselves are not kept. Noted on the way: whether any
    // pixel carries the transparent index, which decides how the frame draws.
    const size_t dataStart = input.position();
    const int transparentIndex = m_hasTransparency && m_gce ? m_gce->TransparentIndex() : -1;
    const uint64_t placed = decodeGifRows(
        input, m_width, m_height, IsInterlaced(), [this](const std::string& msg) { ReportWarning(kWarning, msg); },
        [&](int, const uint8_t* values, int count) {
            if (transparentIndex >= 0 && !m_anyTransparent)
                m_anyTransparent = std::memchr(values, transparentIndex, static_cast<size_t>(count)) != nullptr;
            return true;
        });
    // Pixels the data did not reach keep the fill value, which is the
    // transparent index on a transparent frame.
    if (transparentIndex >= 0 && placed < uint64_t(m_width) * uint64_t(m_height)) m_anyTransparent = true;
    m_imageData = input.bytesSince(dataStart);

    if (PrebuildBitmaps) FrameBitmap();
}

namespace {

// Refuses one frame more than the limit, naming it.
void checkFrameCount(const Limits& limits, int frames) {
    if (static_cast<uint64_t>(frames) < limits.frames) return;
    throw ELimitExceeded(formatMessage("GIF has more than %u frames (the limit is %u)", limits.frames, limits.frames));
}

}  // namespace

void walkGifFrames(GifInput& input, TGIFImage& image, const std::function<void()>& unknown,
                   const std::function<void(std::unique_ptr<TGIFSubImage>)>& take) {
    int frames = 0;
    for (;;) {
        uint8_t b;
        do {
            if (!input.readByte(b)) return;  // no trailer follows
        } while (b == 0x00);
        if (b == ';') {
            input.back();
            return;
        }
        input.back();
        if (b != '!' && b != ',') {
            // The trailer check then reads the byte in front of the unknown one.
            unknown();
            input.back();
            return;
        }
        checkFrameCount(image.ReadLimits(), frames++);
        auto frame = std::make_unique<TGIFSubImage>(&image);
        frame->LoadFromStream(input);  // a fault frees the frame
        take(std::move(frame));
    }
}

void TGIFImageList::LoadFromStream(GifInput& input, TGIFImage& parent) {
    walkGifFrames(
        input, parent, [this] { ReportWarning(kWarning, "Unknown GIF block type"); },
        [&](std::unique_ptr<TGIFSubImage> frame) {
            AppendItem(std::move(frame));
            const int percent =
                input.size() ? static_cast<int>(std::lround(double(input.position()) * 100.0 / double(input.size())))
                             : 100;
            parent.Progress(TProgressStage::Running, percent, PrebuildBitmaps, kLoading);
        });
}

// ---------------------------------------------------------------- image

TGIFImage::TGIFImage()
    : m_header(std::make_unique<TGIFHeader>(this)), m_frames(std::make_unique<TGIFImageList>(this)) {}

TGIFImage::~TGIFImage() { m_frames->DeleteAll(); }

std::unique_ptr<TGraphic> TGIFImage::NewEmpty() const { return std::make_unique<TGIFImage>(); }

void TGIFImage::Clear() {
    m_frames->DeleteAll();
    m_header->Clear();
    m_palette.reset();
}

void TGIFImage::ReportWarning(const void* sender, int severity, const std::string& message) const {
    if (WarningHandler) WarningHandler(sender, severity, message);
}

void TGIFImage::Progress(TProgressStage stage, int percent, bool redrawNow, const std::string& message) const {
    if (OnProgress) OnProgress(this, stage, percent, redrawNow, TRect{}, message);
}

void TGIFImage::ReadFrom(TStream& stream) {
    Progress(TProgressStage::Starting, 0, false, kLoading);
    Clear();
    const int64_t start = stream.position();
    try {
        // The blocks are read piece by piece as far as they go; nothing
        // after the trailer is asked for.
        GifInput input(stream);
        m_header->LoadFromStream(input);
        m_frames->LoadFromStream(input, *this);
        TGIFTrailer trailer(this);
        trailer.LoadFromStream(input);
        input.syncStream();
    } catch (...) {
        stream.setPosition(start);
        Progress(TProgressStage::Ending, 0, false, kLoading);
        throw;
    }
    Progress(TProgressStage::Ending, 100, false, kLoading);
    NotifyChange();
}

void TGIFImage::WriteTo(TStream&) const { throw EInvalidOperation("Writing GIF files is not supported"); }

void registerGifFormat() {
    // Once, however often a program runs the application.
    static const bool registered = [] {
        RegisterFileFormat(
            "gif", "GIF Image", [] { return std::make_unique<TGIFImage>(); }, "TGIFImage");
        return true;
    }();
    (void)registered;
}

}  // namespace glx
