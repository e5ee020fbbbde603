#include "app/prefetch.h"

#include "base/strutil.h"
#include "png/png_object.h"
#include "raster/jpeg_image.h"
#include "raster/picture.h"

namespace glx::app {

namespace {

// Pictures read ahead are held back once they add up to this many pixel
// bytes (at least one is always read ahead).
constexpr uint64_t kAheadBytes = uint64_t(128) << 20;
constexpr size_t kAheadCount = 32;

uint64_t pixelBytes(const TGraphic* g) {
    return g ? uint64_t(std::max(g->Width(), 0)) * uint64_t(std::max(g->Height(), 0)) * 4 : 0;
}

PrefetchedPicture readPicture(const std::string& name, bool rgba, const ReadOptions& options) {
    PrefetchedPicture out;
    try {
        if (rgba && extractFileExt(name) == ".png") {
            auto png = std::make_unique<TPNGObject>();
            png->SetOptions(options);
            png->LoadFile(name);
            out.graphic = std::move(png);
        } else {
            out.graphic = TPicture::ReadGraphic(name, options);
        }
    } catch (...) {
        out.loadError = std::current_exception();
        out.graphic.reset();
        return out;
    }
    // A JPEG picture decodes when it is first drawn; do that work here too.
    if (auto* jpeg = dynamic_cast<TJPEGImage*>(out.graphic.get())) {
        try {
            jpeg->Bitmap();
        } catch (...) {
            out.decodeError = std::current_exception();
        }
    }
    return out;
}

}  // namespace

Prefetcher::Prefetcher(std::vector<std::string> names, bool rgba, const ReadOptions& options)
    : m_names(std::move(names)), m_rgba(rgba), m_options(options) {
    if (!m_names.empty()) m_thread = std::thread([this] { work(); });
}

Prefetcher::~Prefetcher() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

void Prefetcher::work() {
    for (const std::string& name : m_names) {
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [this] {
                return m_stop || m_ready.empty() || (m_ready.size() < kAheadCount && m_readyBytes < kAheadBytes);
            });
            if (m_stop) return;
        }
        PrefetchedPicture picture = readPicture(name, m_rgba, m_options);
        {
            std::lock_guard lock(m_mutex);
            m_readyBytes += pixelBytes(picture.graphic.get());
            m_ready.push_back(std::move(picture));
        }
        m_changed.notify_all();
    }
}

PrefetchedPicture Prefetcher::next() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_ready.empty(); });
    PrefetchedPicture picture = std::move(m_ready.front());
    m_ready.pop_front();
    m_readyBytes -= pixelBytes(picture.graphic.get());
    lock.unlock();
    m_changed.notify_all();
    return picture;
}

}  // namespace glx::app
