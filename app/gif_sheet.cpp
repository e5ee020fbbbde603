#include "app/gif_sheet.h"

#include <cmath>
#include <cstring>

#include "app/atlas_formats.h"
#include "app/options.h"
#include "base/limits.h"
#include "base/stream.h"
#include "base/strutil.h"
#include "png/png_object.h"

namespace glx::app {

SheetGrid nearSquareGrid(int32_t frames) {
    if (frames < 1) return {};
    auto columns = static_cast<int32_t>(std::sqrt(static_cast<double>(frames)));
    while (int64_t(columns) * columns < frames) ++columns;  // ceil, whatever sqrt rounded to
    while (columns > 1 && int64_t(columns - 1) * (columns - 1) >= frames) --columns;
    return SheetGrid{columns, (frames + columns - 1) / columns};
}

GifSheet::GifSheet(const std::string& path, const std::string& stem, int32_t frames, int32_t width, int32_t height,
                   int32_t plays)
    : m_path(path), m_stem(stem), m_grid(nearSquareGrid(frames)), m_width(width), m_height(height) {
    const int64_t sheetW = int64_t(m_grid.columns) * width, sheetH = int64_t(m_grid.rows) * height;
    checkCanvasExtent(sheetW, sheetH);
    checkPictureSize(sheetW, sheetH, 32);
    m_picture = TPNGObject::CreateNew(6, 8, static_cast<int32_t>(sheetW), static_cast<int32_t>(sheetH));
    SheetPage page;
    page.image = extractFileName(path);
    page.width = static_cast<int32_t>(sheetW);
    page.height = static_cast<int32_t>(sheetH);
    page.alpha = true;
    m_sheet.pages.push_back(std::move(page));
    m_sheet.loop = plays;
}

GifSheet::~GifSheet() = default;

void GifSheet::add(int i, const TPNGObject& picture, int delay) {
    const int32_t x = (i % m_grid.columns) * m_width, y = (i / m_grid.columns) * m_height;
    const size_t colour = static_cast<size_t>(m_width) * 3, alpha = static_cast<size_t>(m_width);
    for (int32_t row = 0; row < m_height; ++row) {
        std::memcpy(m_picture->PixelRow(y + row) + static_cast<size_t>(x) * 3, picture.PixelRow(row), colour);
        std::memcpy(m_picture->AlphaRow(y + row) + static_cast<size_t>(x), picture.AlphaRow(row), alpha);
    }
    SheetFrame f;
    f.name = m_stem + "_" + std::to_string(i);
    f.x = x;
    f.y = y;
    f.w = f.sourceW = m_width;
    f.h = f.sourceH = m_height;
    f.durationMs = delay * 10;
    m_sheet.pages[0].frames.push_back(f);
    m_sheet.animations[m_stem].push_back(f.name);
}

void GifSheet::write(const Options& options) {
    const auto count = static_cast<int32_t>(m_sheet.pages[0].frames.size());
    if (count > 0) m_sheet.frameTags.push_back({m_stem, 0, count - 1});
    {
        SafeFileStream file(m_path);
        m_picture->WriteTo(file);
        file.commit();
    }
    m_picture.reset();
    // The JSON hash unless other data files were asked for.
    Options data = options;
    if (data.atlas.empty()) data.atlas.push_back(AtlasFormat::Json);
    writeAtlasFiles(data, m_sheet, m_path);
}

}  // namespace glx::app
