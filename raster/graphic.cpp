#include "raster/graphic.h"

#include "base/exception.h"
#include "base/stream.h"

namespace glx {

void TGraphic::CopyFrom(const TGraphic* source) {
    throw EConvertError(formatMessage("Cannot assign a %s to a %s", source ? source->ClassName() : "nil", ClassName()));
}

void TGraphic::CopyTo(TGraphic& dest) const { dest.CopyFrom(this); }

void TGraphic::NotifyChange() {
    m_modified = true;
    if (OnChange) OnChange();
}

void TGraphic::SetTransparent(bool value) {
    if (value == m_transparent) return;
    m_transparent = value;
    NotifyChange();
}

void TGraphic::SetModified(bool value) {
    if (value) NotifyChange();
    else m_modified = false;
}

void TGraphic::LoadFile(const std::string& path) {
    TFileStream stream(path, FileAccess::Read);
    ReadFrom(stream);
}

void TGraphic::SaveFile(const std::string& path) const {
    SafeFileStream stream(path);
    WriteTo(stream);
    stream.commit();
}

void TGraphic::SaveFile(const FileAt& file) const {
    SafeFileStream stream(file);
    WriteTo(stream);
    stream.commit();
}

}  // namespace glx
