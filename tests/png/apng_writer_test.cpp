// Animated PNG writing: random animations written and played back by a
// small reader of the animation chunks here (inflate by zlib, blend and
// dispose as the format defines them), the default image read by libpng,
// and the rectangle and blend chosen for typical changes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "png/apng_writer.h"
#include "png/row_filters.h"
#include "png_test_util.h"

namespace glx::pngtest {
namespace {

using Frame = std::vector<uint8_t>;  // width * height RGBA

uint32_t get32(const Bytes& b, size_t at) {
    return uint32_t(b.at(at)) << 24 | uint32_t(b.at(at + 1)) << 16 | uint32_t(b.at(at + 2)) << 8 |
           uint32_t(b.at(at + 3));
}

struct Played {
    uint32_t frames = 0, plays = 0;
    std::vector<Frame> shown;  // the output after each frame
    std::vector<std::pair<uint16_t, uint16_t>> delays;
};

// Plays an animated PNG of RGBA8 frames back.
Played play(const Bytes& png, int32_t width, int32_t height) {
    Played p;
    Frame output(size_t(width) * size_t(height) * 4, 0);
    uint32_t expectSequence = 0;
    struct Control {
        uint32_t w, h, x, y;
        uint8_t dispose, blend;
    } control{};
    Bytes data;
    auto flush = [&] {
        if (data.empty()) return;
        const Bytes raw = zlibInflate(data);
        data.clear();
        const size_t length = size_t(control.w) * 4;
        ASSERT_EQ(raw.size(), (length + 1) * control.h);
        Bytes prev(length, 0);
        for (uint32_t y = 0; y < control.h; ++y) {
            Bytes row(raw.begin() + long(y * (length + 1) + 1), raw.begin() + long((y + 1) * (length + 1)));
            UnfilterRow(raw[y * (length + 1)], row.data(), prev.data(), length, 4);
            for (uint32_t x = 0; x < control.w; ++x) {
                uint8_t* out = &output[((size_t(control.y) + y) * size_t(width) + control.x + x) * 4];
                const uint8_t* in = &row[size_t(x) * 4];
                // Only fully opaque or fully transparent pixels occur here.
                if (control.blend == 0 || in[3] == 255) std::memcpy(out, in, 4);
            }
            prev = row;
        }
        EXPECT_EQ(control.dispose, 0);
        p.shown.push_back(output);
    };
    for (const RawChunk& c : splitChunks(png)) {
        if (c.type == "acTL") {
            p.frames = get32(c.payload, 0);
            p.plays = get32(c.payload, 4);
        } else if (c.type == "fcTL" || c.type == "fdAT") {
            EXPECT_EQ(get32(c.payload, 0), expectSequence++);
            if (c.type == "fdAT") data.insert(data.end(), c.payload.begin() + 4, c.payload.end());
            if (c.type == "fcTL") {
                flush();
                control = {get32(c.payload, 4),  get32(c.payload, 8), get32(c.payload, 12),
                           get32(c.payload, 16), c.payload.at(24),    c.payload.at(25)};
                EXPECT_LE(control.x + control.w, uint32_t(width));
                EXPECT_LE(control.y + control.h, uint32_t(height));
                p.delays.emplace_back(uint16_t(c.payload.at(20) << 8 | c.payload.at(21)),
                                      uint16_t(c.payload.at(22) << 8 | c.payload.at(23)));
            }
        } else if (c.type == "IDAT") {
            data.insert(data.end(), c.payload.begin(), c.payload.end());
        }
    }
    flush();
    return p;
}

Bytes writeAnimation(const std::vector<Frame>& frames, int32_t width, int32_t height, uint32_t plays,
                     std::vector<TRect>* rects = nullptr, std::vector<bool>* over = nullptr) {
    TMemoryStream out;
    ApngWriter writer(out, width, height, uint32_t(frames.size()), plays);
    writer.RowFilters = 0x1F;
    for (size_t i = 0; i < frames.size(); ++i) {
        writer.addFrame([&](int32_t y) { return frames[i].data() + size_t(y) * size_t(width) * 4; }, uint16_t(i + 1),
                        100);
        if (rects) rects->push_back(writer.lastRect());
        if (over) over->push_back(writer.lastBlendOver());
    }
    writer.finish();
    return out.bytes();
}

TEST(ApngWriter, RandomAnimationsPlayBackExactly) {
    std::mt19937 rng(23);
    for (int round = 0; round < 20; ++round) {
        const int32_t width = 1 + int32_t(rng() % 40), height = 1 + int32_t(rng() % 30);
        std::vector<Frame> frames;
        Frame f(size_t(width) * size_t(height) * 4, 0);
        const int count = 1 + int(rng() % 6);
        for (int i = 0; i < count; ++i) {
            // A random rectangle of changes: opaque colours, some pixels cleared.
            const int32_t x0 = int32_t(rng() % uint32_t(width)), y0 = int32_t(rng() % uint32_t(height));
            const int32_t x1 = x0 + int32_t(rng() % uint32_t(width - x0 + 1)),
                          y1 = y0 + int32_t(rng() % uint32_t(height - y0 + 1));
            const bool clears = rng() % 3 == 0;
            for (int32_t y = y0; y < y1; ++y)
                for (int32_t x = x0; x < x1; ++x) {
                    uint8_t* px = &f[(size_t(y) * size_t(width) + size_t(x)) * 4];
                    const bool clear = clears && rng() % 4 == 0;
                    const uint8_t c = uint8_t(rng() % 4 * 60);
                    px[0] = clear ? 0 : c;
                    px[1] = clear ? 0 : uint8_t(255 - c);
                    px[2] = clear ? 0 : uint8_t(x * 7);
                    px[3] = clear ? 0 : 255;
                }
            frames.push_back(f);
        }
        const Bytes png = writeAnimation(frames, width, height, uint32_t(round % 3));
        const Played p = play(png, width, height);
        EXPECT_EQ(p.frames, uint32_t(count));
        EXPECT_EQ(p.plays, uint32_t(round % 3));
        ASSERT_EQ(p.shown.size(), frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(p.shown[i], frames[i]) << "round " << round << " frame " << i;
            EXPECT_EQ(p.delays[i], std::make_pair(uint16_t(i + 1), uint16_t(100)));
        }
        // Readers without animation support show the first frame.
        const RefImage first = libpngDecode(png);
        ASSERT_EQ(first.rows.size(), size_t(height));
        for (int32_t y = 0; y < height; ++y)
            EXPECT_TRUE(std::equal(first.rows[size_t(y)].begin(), first.rows[size_t(y)].end(),
                                   frames[0].begin() + long(y) * width * 4));
    }
}

TEST(ApngWriter, StoresOnlyTheChangedRectangle) {
    const int32_t w = 6, h = 4;
    Frame base(size_t(w * h) * 4, 0);
    for (size_t i = 0; i < base.size(); i += 4) base[i + 3] = 255;
    auto with = [&](int32_t x, int32_t y, std::array<uint8_t, 4> c) {
        Frame f = base;
        std::memcpy(&f[(size_t(y) * w + size_t(x)) * 4], c.data(), 4);
        return f;
    };
    Frame twoOpaque = with(1, 1, {9, 9, 9, 255});
    std::memcpy(&twoOpaque[(size_t(2) * w + 4) * 4], std::array<uint8_t, 4>{7, 7, 7, 255}.data(), 4);
    struct Case {
        const char* what;
        Frame next;
        TRect rect;
        bool over;
    };
    const Case cases[] = {
        {"nothing changed: one pixel", base, {0, 0, 1, 1}, false},
        {"opaque changes: drawn over", twoOpaque, {1, 1, 5, 3}, true},
        {"a pixel made transparent: replaced", with(3, 2, {0, 0, 0, 0}), {3, 2, 4, 3}, false},
    };
    for (const Case& c : cases) {
        std::vector<TRect> rects;
        std::vector<bool> over;
        const Bytes png = writeAnimation({base, c.next}, w, h, 0, &rects, &over);
        EXPECT_EQ(rects[0], (TRect{0, 0, w, h})) << c.what;
        EXPECT_EQ(rects[1], c.rect) << c.what;
        EXPECT_EQ(over[1], c.over) << c.what;
        EXPECT_EQ(play(png, w, h).shown.back(), c.next) << c.what;
    }
}

TEST(ApngWriter, TheAnnouncedFrameCountIsKept) {
    TMemoryStream out;
    ApngWriter writer(out, 1, 1, 2, 0);
    const uint8_t px[4] = {1, 2, 3, 255};
    writer.addFrame([&](int32_t) { return px; }, 1, 100);
    EXPECT_THROW(writer.finish(), EInvalidOperation);
    writer.addFrame([&](int32_t) { return px; }, 1, 100);
    EXPECT_THROW(writer.addFrame([&](int32_t) { return px; }, 1, 100), EInvalidOperation);
    writer.finish();
}

}  // namespace
}  // namespace glx::pngtest
