#include "raster/picture.h"

#include <algorithm>

#include "base/exception.h"
#include "base/stream.h"
#include "base/strutil.h"
#include "raster/bitmap.h"
#include "raster/jpeg_image.h"

namespace glx {

namespace {

// Metafiles and icons have registered extensions but no reader here: they
// are kinds that refuse to load with a message saying so.
class UnsupportedGraphic : public TGraphic {
public:
    UnsupportedGraphic(const char* className, const char* kind) : m_className(className), m_kind(kind) {}
    const char* ClassName() const override { return m_className; }
    std::unique_ptr<TGraphic> NewEmpty() const override {
        return std::make_unique<UnsupportedGraphic>(m_className, m_kind);
    }
    void PaintOn(TCanvas&, const TRect&) const override {}
    bool IsEmpty() const override { return true; }
    int32_t Width() const override { return 0; }
    int32_t Height() const override { return 0; }
    void SetWidth(int32_t) override {}
    void SetHeight(int32_t) override {}
    void ReadFrom(TStream&) override { throw EInvalidGraphic(formatMessage("%s pictures are not supported", m_kind)); }
    void WriteTo(TStream&) const override {}

private:
    const char* m_className;
    const char* m_kind;
};

}  // namespace

// ------------------------------------------------------------ registry

TFileFormatsList::TFileFormatsList() {
    RegisterFormat(
        "wmf", "Metafiles", [] { return std::make_unique<UnsupportedGraphic>("TMetafile", "Metafile"); }, "TMetafile");
    RegisterFormat(
        "emf", "Enhanced Metafiles", [] { return std::make_unique<UnsupportedGraphic>("TMetafile", "Metafile"); },
        "TMetafile");
    RegisterFormat(
        "ico", "Icons", [] { return std::make_unique<UnsupportedGraphic>("TIcon", "Icon"); }, "TIcon");
    RegisterFormat(
        "bmp", "Bitmaps", [] { return std::make_unique<TBitmap>(); }, "TBitmap");
    RegisterFormat(
        "jpeg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); }, "TJPEGImage");
    RegisterFormat(
        "jpg", "JPEG Image File", [] { return std::make_unique<TJPEGImage>(); }, "TJPEGImage");
}

TFileFormatsList& TFileFormatsList::instance() {
    static TFileFormatsList list;
    return list;
}

void TFileFormatsList::checkOpen() const {
    if (m_sealed) throw EInternalError("the picture format registry is sealed");
}

void TFileFormatsList::RegisterFormat(const std::string& extension, const std::string& description,
                                      GraphicFactory factory, const std::string& className) {
    checkOpen();
    m_entries.push_back(FileFormat{lowerCaseAscii(extension), description, std::move(factory), className, 0});
}

void TFileFormatsList::UnregisterFormat(const std::string& className) {
    checkOpen();
    std::erase_if(m_entries, [&](const FileFormat& f) { return f.className == className; });
}

const FileFormat* TFileFormatsList::FindFormat(const std::string& ext) const {
    const std::string key = lowerCaseAscii(ext);
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (it->extension == key) return &*it;
    return nullptr;
}

void RegisterFileFormat(const std::string& ext, const std::string& description, GraphicFactory factory,
                        const char* className) {
    TFileFormatsList::instance().RegisterFormat(ext, description, std::move(factory), className);
}

void UnregisterFileFormat(const char* className) { TFileFormatsList::instance().UnregisterFormat(className); }

void SealFileFormats() { TFileFormatsList::instance().Seal(); }

// ------------------------------------------------------------ container

TPicture::TPicture() { TFileFormatsList::instance(); }

TPicture::~TPicture() {
    if (m_graphic) m_graphic->OnChange = nullptr;
}

void TPicture::changed() {
    if (OnChange) OnChange();
}

void TPicture::adopt(std::unique_ptr<TGraphic> graphic) {
    if (m_graphic) m_graphic->OnChange = nullptr;
    m_graphic = std::move(graphic);
    if (m_graphic) m_graphic->OnChange = [this] { changed(); };
    changed();
}

namespace {

std::unique_ptr<TGraphic> newGraphicFor(const std::string& name, const ReadOptions& options) {
    std::string ext = extractFileExt(extractFileName(name));
    if (!ext.empty()) ext.erase(0, 1);
    const FileFormat* format = TFileFormatsList::instance().FindFormat(ext);
    if (!format) throw EInvalidGraphic(formatMessage("Unknown picture file extension (.%s)", ext.c_str()));
    std::unique_ptr<TGraphic> graphic = format->factory();
    graphic->SetOptions(options);
    return graphic;
}

}  // namespace

std::unique_ptr<TGraphic> TPicture::ReadGraphic(const std::string& path, const ReadOptions& options) {
    std::unique_ptr<TGraphic> graphic = newGraphicFor(path, options);
    graphic->LoadFile(path);
    return graphic;
}

std::unique_ptr<TGraphic> TPicture::ReadGraphic(TStream& stream, const std::string& name, const ReadOptions& options) {
    std::unique_ptr<TGraphic> graphic = newGraphicFor(name, options);
    graphic->ReadFrom(stream);
    return graphic;
}

void TPicture::LoadFile(const std::string& path, const ReadOptions& options) {
    // A failure frees the new object; the held picture stays.
    adopt(ReadGraphic(path, options));
}

void TPicture::LoadFromStream(TStream& stream, const std::string& name, const ReadOptions& options) {
    adopt(ReadGraphic(stream, name, options));
}

void TPicture::SaveFile(const std::string& path) const {
    if (m_graphic) m_graphic->SaveFile(path);
}

void TPicture::SaveFile(const FileAt& file) const {
    if (m_graphic) m_graphic->SaveFile(file);
}

void TPicture::CopyFrom(const TPicture* source) { CopyFrom(source ? source->Graphic() : nullptr); }

void TPicture::CopyFrom(const TGraphic* source) {
    if (!source) {
        SetGraphic(nullptr);
        return;
    }
    if (source == m_graphic.get()) return;
    std::unique_ptr<TGraphic> copy = source->NewEmpty();
    copy->CopyFrom(source);
    adopt(std::move(copy));
}

TBitmap& TPicture::AsBitmap() {
    if (auto* bitmap = dynamic_cast<TBitmap*>(m_graphic.get())) return *bitmap;
    adopt(std::make_unique<TBitmap>());
    return static_cast<TBitmap&>(*m_graphic);
}

void TPicture::SetGraphic(std::unique_ptr<TGraphic> graphic) { adopt(std::move(graphic)); }

int32_t TPicture::Width() const { return m_graphic ? m_graphic->Width() : 0; }

int32_t TPicture::Height() const { return m_graphic ? m_graphic->Height() : 0; }

}  // namespace glx
