#include "app/gif_meta.h"

#include <nlohmann/json.hpp>

#include "base/stream.h"
#include "base/strutil.h"
#include "gif/browser_compose.h"
#include "gif/gif_extensions.h"
#include "gif/gif_image.h"

namespace glx::app {

void GifMetaFile::add(int i, int delay, const TGIFSubImage& frame) {
    const TRect r = GifBrowserComposer::screenRect(frame, m_width, m_height);
    const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
    m_entries.push_back(Entry{i, delay, frame.DisposalMethod(), r.Left, r.Top, r.width(), r.height(),
                              frame.HasTransparency() && gce ? gce->TransparentIndex() : -1});
}

std::string GifMetaFile::text(bool lf) const {
    using nlohmann::ordered_json;
    ordered_json frames = ordered_json::array();
    for (const Entry& e : m_entries) {
        ordered_json f;
        f["file"] = std::to_string(e.index) + ".png";
        f["delay"] = e.delay;
        f["duration_ms"] = e.delay * 10;
        f["disposal"] = e.disposal;
        f["rect"] = {{"x", e.x}, {"y", e.y}, {"w", e.w}, {"h", e.h}};
        f["transparent_index"] = e.transparent >= 0 ? ordered_json(e.transparent) : ordered_json(nullptr);
        frames.push_back(std::move(f));
    }
    ordered_json root;
    root["loop"] = m_plays;
    root["width"] = m_width;
    root["height"] = m_height;
    root["frames"] = std::move(frames);
    const std::string text = root.dump(1, '\t') + "\n";
    return lf ? text : replaceAll(text, "\n", "\r\n");
}

void GifMetaFile::write(const FileAt& target, bool lf) const {
    const std::string json = text(lf);
    SafeFileStream file(target, SafeFileStream::CommitSync::Deferred);
    file.writeBuffer(json.data(), json.size());
    file.commit();
}

}  // namespace glx::app
