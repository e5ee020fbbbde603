#include "raster/image.h"

#include <cstring>

#include "base/exception.h"
#include "raster/bitmap.h"

namespace glx {

TImage::TImage(int32_t width, int32_t height) : m_width(width), m_height(height) {
    m_picture.OnChange = [this] { pictureChanged(); };
}

TImage::~TImage() { m_picture.OnChange = nullptr; }

TCanvas& TImage::Canvas() {
    if (!m_picture.Graphic()) m_picture.SetGraphic(std::make_unique<TBitmap>(m_width, m_height));
    if (auto* bitmap = dynamic_cast<TBitmap*>(m_picture.Graphic())) return bitmap->Canvas();
    throw EInvalidOperation("Can only modify an image if it contains a bitmap");
}

void TImage::SetAutoSize(bool value) {
    if (value == m_autoSize) return;
    m_autoSize = value;
    if (value) pictureChanged();
}

void TImage::SetTransparent(bool value) {
    if (value == m_transparent) return;
    m_transparent = value;
    pictureChanged();
}

void TImage::pictureChanged() {
    TGraphic* graphic = m_picture.Graphic();
    if (m_autoSize && m_picture.Width() > 0 && m_picture.Height() > 0) {
        m_width = m_picture.Width();
        m_height = m_picture.Height();
    }
    if (!graphic) return;
    // Icons and metafiles keep their own transparency.
    const char* name = graphic->ClassName();
    if (std::strcmp(name, "TIcon") != 0 && std::strcmp(name, "TMetafile") != 0) graphic->SetTransparent(m_transparent);
}

}  // namespace glx
