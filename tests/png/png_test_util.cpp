#include "png_test_util.h"

#include "support/pictures.h"

#include <gtest/gtest.h>

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace glx::pngtest {

Bytes be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

namespace {

PngBuilder& appendText(PngBuilder& b, const std::string& text) { return b.raw(Bytes(text.begin(), text.end())); }

}  // namespace

PngBuilder& PngBuilder::signature() { return appendText(*this, glxtest::pngSignature()); }

PngBuilder& PngBuilder::raw(const Bytes& b) {
    m_bytes.insert(m_bytes.end(), b.begin(), b.end());
    return *this;
}

PngBuilder& PngBuilder::chunk(const std::string& type, const Bytes& payload) {
    return appendText(*this, glxtest::pngChunk(type, std::string(payload.begin(), payload.end())));
}

PngBuilder& PngBuilder::badCrcChunk(const std::string& type, const Bytes& payload) {
    chunk(type, payload);
    m_bytes.back() ^= 0x55;
    return *this;
}

PngBuilder& PngBuilder::ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace) {
    Bytes p = be32(w);
    Bytes hh = be32(h);
    p.insert(p.end(), hh.begin(), hh.end());
    p.insert(p.end(), {depth, colorType, 0, 0, interlace});
    return chunk("IHDR", p);
}

Bytes zlibCompress(const Bytes& data, int level) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress2 failed");
    out.resize(size);
    return out;
}

Bytes zlibInflate(const Bytes& stream) {
    z_stream s{};
    if (inflateInit(&s) != Z_OK) throw std::runtime_error("inflateInit failed");
    Bytes out;
    uint8_t buf[65536];
    s.next_in = const_cast<Bytef*>(stream.data());
    s.avail_in = static_cast<uInt>(stream.size());
    int r = Z_OK;
    while (r == Z_OK) {
        s.next_out = buf;
        s.avail_out = sizeof buf;
        r = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - s.avail_out));
    }
    inflateEnd(&s);
    EXPECT_EQ(r, Z_STREAM_END) << "not one whole zlib stream";
    EXPECT_EQ(s.avail_in, 0u) << "bytes after the zlib stream";
    return out;
}

Bytes filterNone(const std::vector<Bytes>& rows) {
    Bytes out;
    for (const auto& r : rows) {
        out.push_back(0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes saveToBytes(const TPNGObject& image) {
    TMemoryStream s;
    image.WriteTo(s);
    return s.bytes();
}

void loadFromBytes(TPNGObject& image, const Bytes& bytes) {
    TMemoryStream s(bytes);
    image.ReadFrom(s);
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot open " + path);
    return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string suiteDir() { return std::string(GLX_TEST_DATA) + "/pngsuite"; }

std::vector<RawChunk> splitChunks(const Bytes& png) {
    std::vector<RawChunk> out;
    size_t pos = 8;
    while (pos + 12 <= png.size()) {
        uint32_t len =
            (uint32_t(png[pos]) << 24) | (uint32_t(png[pos + 1]) << 16) | (uint32_t(png[pos + 2]) << 8) | png[pos + 3];
        if (pos + 12 + len > png.size()) break;
        RawChunk c;
        c.type.assign(reinterpret_cast<const char*>(&png[pos + 4]), 4);
        c.payload.assign(png.begin() + static_cast<long>(pos + 8), png.begin() + static_cast<long>(pos + 8 + len));
        out.push_back(std::move(c));
        pos += 12 + len;
    }
    return out;
}

int RefImage::channels() const {
    switch (colorType) {
        case 2:
            return 3;
        case 4:
            return 2;
        case 6:
            return 4;
        default:
            return 1;
    }
}

uint32_t RefImage::sample(int32_t x, int32_t y, int c) const {
    const Bytes& r = rows[static_cast<size_t>(y)];
    const int ch = channels();
    if (bitDepth == 16) {
        const auto i = static_cast<size_t>((x * ch + c) * 2);
        return (uint32_t(r[i]) << 8) | r[i + 1];
    }
    if (bitDepth == 8) return r[static_cast<size_t>(x * ch + c)];
    const auto bit = static_cast<uint32_t>(x * bitDepth), depth = static_cast<uint32_t>(bitDepth);
    return (uint32_t(r[bit / 8]) >> (8 - depth - bit % 8)) & ((1u << depth) - 1);
}

namespace {

struct ReadState {
    const Bytes* data;
    size_t pos;
};

void readCallback(png_structp png, png_bytep out, png_size_t n) {
    auto* st = static_cast<ReadState*>(png_get_io_ptr(png));
    if (st->pos + n > st->data->size()) png_error(png, "read past end");
    std::memcpy(out, st->data->data() + st->pos, n);
    st->pos += n;
}

void writeCallback(png_structp png, png_bytep data, png_size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}

void flushCallback(png_structp) {}

}  // namespace

RefImage libpngDecode(const Bytes& bytes) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    RefImage img;
    ReadState st{&bytes, 0};
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw std::runtime_error("libpng could not decode the stream");
    }
    png_set_read_fn(png, &st, readCallback);
    png_read_info(png, info);
    img.width = png_get_image_width(png, info);
    img.height = png_get_image_height(png, info);
    img.colorType = png_get_color_type(png, info);
    img.bitDepth = png_get_bit_depth(png, info);
    img.interlace = png_get_interlace_type(png, info);
    if (img.interlace) png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t rowBytes = png_get_rowbytes(png, info);
    img.rows.assign(img.height, Bytes(rowBytes));
    std::vector<png_bytep> ptrs(img.height);
    for (uint32_t y = 0; y < img.height; ++y) ptrs[y] = img.rows[y].data();
    png_read_image(png, ptrs.data());
    png_colorp pal = nullptr;
    int n = 0;
    if (png_get_PLTE(png, info, &pal, &n))
        for (int i = 0; i < n; ++i) img.palette.push_back({pal[i].red, pal[i].green, pal[i].blue});
    png_bytep trans = nullptr;
    int nt = 0;
    png_color_16p tc = nullptr;
    if (png_get_tRNS(png, info, &trans, &nt, &tc) && trans) img.trns.assign(trans, trans + nt);
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return img;
}

Bytes libpngEncode(const RefImage& img) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not encode the image");
    }
    png_set_write_fn(png, &out, writeCallback, flushCallback);
    png_set_IHDR(png, info, img.width, img.height, img.bitDepth, img.colorType, img.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Every filter type, so the decoder meets all five.
    png_set_filter(png, 0, PNG_ALL_FILTERS);
    std::vector<png_color> pal;
    for (auto& c : img.palette) pal.push_back(png_color{c[0], c[1], c[2]});
    if (!pal.empty()) png_set_PLTE(png, info, pal.data(), static_cast<int>(pal.size()));
    png_write_info(png, info);
    std::vector<png_bytep> ptrs(img.height);
    for (uint32_t y = 0; y < img.height; ++y) ptrs[y] = const_cast<png_bytep>(img.rows[y].data());
    png_write_image(png, ptrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

}  // namespace glx::pngtest
