// TPicture: holds one picture of any registered kind, loading it by the
// file name's extension through the process-wide format registry.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "raster/graphic.h"

namespace glx {

class TBitmap;
class TStream;

using GraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// One registered file format.
struct FileFormat {
    std::string extension;  // without the dot, lower case
    std::string description;
    GraphicFactory factory;
    std::string className;  // the picture class the factory makes
    int descriptionId = 0;
};

// The registry of picture file formats. Created on first use with the
// built-in kinds: wmf, emf, ico (registered, but fail to load), bmp, jpeg
// and jpg. A program adds its other kinds at start-up and then seals it:
// from then on it is only read, from any thread, and a change raises
// EInternalError.
class TFileFormatsList {
public:
    static TFileFormatsList& instance();

    void RegisterFormat(const std::string& extension, const std::string& description, GraphicFactory factory,
                        const std::string& className);
    // Removes every entry of that picture class.
    void UnregisterFormat(const std::string& className);
    // The entry whose extension equals ext (any letter case, no dot),
    // searched from the last registered to the first; nullptr when none.
    const FileFormat* FindFormat(const std::string& ext) const;
    const std::vector<FileFormat>& entries() const { return m_entries; }
    void Seal() { m_sealed = true; }

private:
    TFileFormatsList();
    void checkOpen() const;
    std::vector<FileFormat> m_entries;
    bool m_sealed = false;
};

// Adds a format to the registry (the PNG and GIF modules call this at
// program start).
void RegisterFileFormat(const std::string& ext, const std::string& description, GraphicFactory factory,
                        const char* className);
void UnregisterFileFormat(const char* className);
// Seals the registry (see TFileFormatsList); done before any thread starts.
void SealFileFormats();

class TPicture {
public:
    TPicture();
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // A new picture of the kind the path's extension names, loaded from the
    // file; "Unknown picture file extension (.%s)" for unregistered kinds.
    static std::unique_ptr<TGraphic> ReadGraphic(const std::string& path, const ReadOptions& options = {});
    // The same, reading the picture from stream; name only chooses the kind.
    static std::unique_ptr<TGraphic> ReadGraphic(TStream& stream, const std::string& name,
                                                 const ReadOptions& options = {});
    // Replaces the held picture by one read from the file, its class
    // chosen by the extension. Unknown extension: EInvalidGraphic
    // "Unknown picture file extension (.%s)". On any failure the held
    // picture stays as it was.
    void LoadFile(const std::string& path, const ReadOptions& options = {});
    // Like LoadFile, reading from stream; name only chooses the kind.
    void LoadFromStream(TStream& stream, const std::string& name, const ReadOptions& options = {});
    // The held picture writes itself in its own format; an empty container
    // writes nothing and creates no file.
    void SaveFile(const std::string& path) const;
    void SaveFile(const FileAt& file) const;

    // Copies another container's picture (nothing: becomes empty).
    void CopyFrom(const TPicture* source);
    // A new object of the source's class copied from it; nullptr empties.
    void CopyFrom(const TGraphic* source);

    // The held picture as a bitmap; any other kind is replaced by a new,
    // empty bitmap (its content is lost).
    TBitmap& AsBitmap();

    TGraphic* Graphic() const { return m_graphic.get(); }
    // Takes ownership of graphic (nullptr empties the container).
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    void Clear() { SetGraphic(nullptr); }

    int32_t Width() const;
    int32_t Height() const;

    // Raised whenever the held picture is replaced or changes.
    std::function<void()> OnChange;

private:
    void changed();
    void adopt(std::unique_ptr<TGraphic> graphic);

    std::unique_ptr<TGraphic> m_graphic;
};

}  // namespace glx
