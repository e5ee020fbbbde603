// The building blocks every part of a GIF shares: the exception class, the
// warning and progress events, the item base class and the owning list.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/exception.h"
#include "raster/geometry.h"

namespace glx {

class TGIFImage;
class GifInput;

// A fatal fault in GIF data; the message is one of the reader's fixed texts.
class GIFException : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

enum class TProgressStage { Starting, Running, Ending };

// Non-fatal faults of the data: sender (an item, a list or a colour map),
// severity (1 for every warning of the read path) and the message.
using TGIFWarningEvent = std::function<void(const void* sender, int severity, const std::string& message)>;
// sender, stage, percent, redraw-now flag, rectangle, message
using TGIFProgressEvent = std::function<void(const void* sender, TProgressStage stage, int percent, bool redrawNow,
                                             const TRect& rect, const std::string& message)>;

// Forwards a warning to the image's WarningHandler (nothing without one).
void reportGifWarning(const TGIFImage* image, const void* sender, int severity, const std::string& message);

// Base of everything read from a GIF stream; knows the image it belongs to.
class TGIFItem {
public:
    explicit TGIFItem(TGIFImage* image) : m_image(image) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    TGIFImage* Image() const { return m_image; }
    // Whether the item needs GIF89a (only a writer asks).
    virtual bool NeedsGIF89a() const { return false; }
    virtual void ReportWarning(int severity, const std::string& message) const {
        reportGifWarning(m_image, this, severity, message);
    }
    // Reads the item from the cursor's position.
    virtual void LoadFromStream(GifInput& input) = 0;

protected:
    TGIFImage* m_image;
};

// An owning list of items of one image. Index errors raise EListError
// "List index out of bounds (%d)".
template <class T>
class TGIFList {
public:
    explicit TGIFList(TGIFImage* image) : m_image(image) {}
    virtual ~TGIFList() { DeleteAll(); }
    TGIFList(const TGIFList&) = delete;
    TGIFList& operator=(const TGIFList&) = delete;

    int ItemCount() const { return static_cast<int>(m_items.size()); }
    int Count() const { return ItemCount(); }
    T& operator[](int index) const { return *Items(index); }
    T* Items(int index) const {
        if (index < 0 || index >= ItemCount()) throw EListError(formatMessage("List index out of bounds (%d)", index));
        return m_items[static_cast<size_t>(index)].get();
    }
    T* AppendItem(std::unique_ptr<T> item) {
        m_items.push_back(std::move(item));
        return m_items.back().get();
    }
    // Removes and frees the item at index.
    void DeleteAt(int index) {
        Items(index);
        std::unique_ptr<T> item = std::move(m_items[static_cast<size_t>(index)]);
        m_items.erase(m_items.begin() + index);
        item.reset();
    }
    // Removes the item without freeing it; the caller takes it over.
    std::unique_ptr<T> Detach(T* item) {
        for (size_t i = 0; i < m_items.size(); ++i)
            if (m_items[i].get() == item) {
                std::unique_ptr<T> out = std::move(m_items[i]);
                m_items.erase(m_items.begin() + static_cast<ptrdiff_t>(i));
                return out;
            }
        return nullptr;
    }
    // Front to back, each item out of the list before it is freed.
    void DeleteAll() noexcept {
        while (!m_items.empty()) {
            std::unique_ptr<T> item = std::move(m_items.front());
            m_items.erase(m_items.begin());
            item.reset();
        }
    }
    void ReportWarning(int severity, const std::string& message) const {
        reportGifWarning(m_image, this, severity, message);
    }
    TGIFImage* Image() const { return m_image; }

protected:
    TGIFImage* m_image;
    std::vector<std::unique_ptr<T>> m_items;
};

}  // namespace glx
