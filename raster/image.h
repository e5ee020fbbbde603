// TImage: an invisible picture holder. It owns a TPicture; asking it for a
// canvas gives it a bitmap of its own size when it holds nothing.
#pragma once

#include <cstdint>

#include "raster/picture.h"

namespace glx {

class TCanvas;

class TImage {
public:
    explicit TImage(int32_t width = 105, int32_t height = 105);
    ~TImage();
    TImage(const TImage&) = delete;
    TImage& operator=(const TImage&) = delete;

    TPicture& Picture() { return m_picture; }
    const TPicture& Picture() const { return m_picture; }

    // The canvas drawing into the held bitmap. An empty holder first gets
    // a new bitmap of the holder's width x height; a holder with any other
    // kind of picture fails with EInvalidOperation "Can only modify an
    // image if it contains a bitmap".
    TCanvas& Canvas();

    // With AutoSize on, the holder takes the size of every picture of
    // positive width and height it is given; turning it on applies it at
    // once.
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    // Given to every bitmap, JPEG, PNG or GIF picture the holder gets.
    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool value);

    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }
    void SetWidth(int32_t value) { m_width = value; }
    void SetHeight(int32_t value) { m_height = value; }

private:
    void pictureChanged();

    TPicture m_picture;
    int32_t m_width, m_height;
    bool m_autoSize = false;
    bool m_transparent = false;
};

}  // namespace glx
