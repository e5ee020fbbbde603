// TGraphic: the abstract picture every concrete kind (bitmap, JPEG, PNG,
// GIF) derives from.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/exception.h"
#include "base/limits.h"
#include "raster/geometry.h"

namespace glx {

// An operation a picture kind does not allow ("Cannot change the size of a
// JPEG image").
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

class TCanvas;
class TStream;
struct FileAt;

class TGraphic {
public:
    TGraphic() = default;
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    // The class name as messages show it ("TBitmap", "TPNGObject", ...).
    virtual const char* ClassName() const = 0;
    // A new, empty object of the same class.
    virtual std::unique_ptr<TGraphic> NewEmpty() const = 0;

    // Copies source into this picture. Without an override: EConvertError
    // "Cannot assign a %s to a %s" (source class, this class); a null
    // source raises the same with "nil".
    virtual void CopyFrom(const TGraphic* source);
    // Copies this picture into dest; by default dest.CopyFrom(this).
    virtual void CopyTo(TGraphic& dest) const;

    virtual void NotifyChange();
    virtual void PaintOn(TCanvas& canvas, const TRect& rect) const = 0;
    virtual bool IsEmpty() const = 0;
    virtual int32_t Width() const = 0;
    virtual int32_t Height() const = 0;
    virtual void SetWidth(int32_t value) = 0;
    virtual void SetHeight(int32_t value) = 0;
    virtual bool IsTransparent() const { return m_transparent; }
    virtual void SetTransparent(bool value);

    bool Modified() const { return m_modified; }
    void SetModified(bool value);

    // Opens the file read-only and calls ReadFrom; the file is closed also
    // when reading fails.
    void LoadFile(const std::string& path);
    // Writes through a temporary file renamed over path only when WriteTo
    // completed, so a failure leaves an existing file as it was.
    void SaveFile(const std::string& path) const;
    // The same, for a file inside an open folder.
    void SaveFile(const FileAt& file) const;
    virtual void ReadFrom(TStream& stream) = 0;
    virtual void WriteTo(TStream& stream) const = 0;

    // The limits and checks reading works under (the defaults unless set
    // before reading); also the limits of sizes the picture is given later.
    const ReadOptions& Options() const { return m_options; }
    void SetOptions(const ReadOptions& options) { m_options = options; }
    const Limits& ReadLimits() const { return m_options.limits; }

    // Change notification to the owner (a picture container).
    std::function<void()> OnChange;

protected:
    bool m_transparent = false;
    bool m_modified = false;
    ReadOptions m_options;
};

}  // namespace glx
