#include "gif/gif_extensions.h"

#include <cstring>

#include "gif/gif_image.h"
#include "gif/gif_input.h"

namespace glx {

namespace {

constexpr int kWarning = 1;

template <class T>
std::unique_ptr<TGIFExtension> create(TGIFSubImage& frame) {
    return std::make_unique<T>(frame);
}

// Every class but the application extension family reads what it is.
const GifExtensionClass* refineSelf(const GifExtensionClass* self, GifInput&) { return self; }

// Looks at the block size and identifier ahead to pick the application
// extension class.
const GifExtensionClass* refineApplication(const GifExtensionClass* self, GifInput& input) {
    size_t start = input.position();
    uint8_t size;
    if (!input.readByte(size)) return nullptr;
    if (size == 10) {
        uint8_t ident[10];
        return input.readSome(ident, 10) == 10 ? &TGIFUnknownAppExtension::Class_ : nullptr;
    }
    if (size == 11) {
        uint8_t ident[11];
        if (input.readSome(ident, 11) == 11) {
            const GifExtensionClass* found = TAppExtensionList::Find(ident);
            return found ? found : &TGIFUnknownAppExtension::Class_;
        }
        input.setPosition(start);
        return self;
    }
    input.setPosition(start);
    return size > 11 ? &TGIFUnknownAppExtension::Class_ : self;
}

// Data sub-blocks as text lines, each up to its first zero byte.
void readLines(GifInput& input, std::vector<std::string>& lines) {
    lines.clear();
    uint8_t size;
    while (input.readByte(size) && size != 0) {
        char text[256];
        input.readExact(text, size);
        lines.emplace_back(text, strnlen(text, size));
    }
}

}  // namespace

const GifExtensionClass TGIFGraphicControlExtension::Class_{"TGIFGraphicControlExtension", 0xF9, refineSelf,
                                                            create<TGIFGraphicControlExtension>};
const GifExtensionClass TGIFTextExtension::Class_{"TGIFTextExtension", 0x01, refineSelf, create<TGIFTextExtension>};
const GifExtensionClass TGIFCommentExtension::Class_{"TGIFCommentExtension", 0xFE, refineSelf,
                                                     create<TGIFCommentExtension>};
// The application extension itself is abstract. Its refinement answers it
// only for data that cannot be read (a block size below 10, or an
// identifier cut off by the end of the data); the object made for that
// fails while reading the fixed part, with the message for the fault.
const GifExtensionClass TGIFApplicationExtension::Class_{"TGIFApplicationExtension", 0xFF, refineApplication,
                                                         create<TGIFUnknownAppExtension>};
const GifExtensionClass TGIFAppExtNSLoop::Class_{"TGIFAppExtNSLoop", 0xFF, refineApplication, create<TGIFAppExtNSLoop>};
const GifExtensionClass TGIFUnknownAppExtension::Class_{"TGIFUnknownAppExtension", 0xFF, refineApplication,
                                                        create<TGIFUnknownAppExtension>};

// ---------------------------------------------------------------- registries

const GifExtensionClass* TExtensionList::Find(uint8_t label) {
    static const GifExtensionClass* const entries[] = {
        &TGIFTextExtension::Class_,
        &TGIFGraphicControlExtension::Class_,
        &TGIFCommentExtension::Class_,
        &TGIFApplicationExtension::Class_,
    };
    for (size_t i = std::size(entries); i-- > 0;)
        if (entries[i]->Label == label) return entries[i];
    return nullptr;
}

const GifExtensionClass* TAppExtensionList::Find(const uint8_t* identifier) {
    struct Entry {
        const char* ident;
        const GifExtensionClass* cls;
    };
    static const Entry entries[] = {
        {"NETSCAPE2.0", &TGIFAppExtNSLoop::Class_},
        {"ANIMEXTS1.0", &TGIFAppExtNSLoop::Class_},
    };
    for (size_t i = std::size(entries); i-- > 0;)
        if (std::memcmp(entries[i].ident, identifier, 11) == 0) return entries[i].cls;
    return nullptr;
}

const GifExtensionClass* findExtensionClass(GifInput& input) {
    size_t start = input.position();
    uint8_t label;
    const GifExtensionClass* cls = nullptr;
    if (input.readByte(label)) cls = TExtensionList::Find(label);
    // Each refinement looks at the bytes after the previous look-ahead; it
    // ends when a class answers itself, or none. Every step that answers
    // another class has consumed bytes, so the search ends with the data.
    while (cls) {
        const GifExtensionClass* answer = cls->RefineClass(cls, input);
        if (answer == cls) break;
        cls = answer;
    }
    input.setPosition(start);
    return cls;
}

// ---------------------------------------------------------------- base

TGIFExtension::TGIFExtension(TGIFSubImage& frame) : TGIFItem(frame.Image()), m_frame(&frame) {}

void TGIFExtension::LoadFromStream(GifInput& input) {
    uint8_t head[2];
    input.readExact(head, 2);
    if (head[0] != '!') throw GIFException("Invalid extension introducer");
    if (head[1] != Label()) throw GIFException("Internal error: Extension Instance does not match Extension Label");
    LoadBody(input);
}

// ---------------------------------------------------------------- graphic control

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage& frame) : TGIFExtension(frame) {
    if (!frame.m_gce) frame.m_gce = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
    if (TransparencyFlag()) m_frame->m_hasTransparency = false;
    if (m_frame->m_gce == this) m_frame->m_gce = nullptr;
}

void TGIFGraphicControlExtension::LoadBody(GifInput& input) {
    // Exactly 6 bytes, whatever the block size byte says.
    if (input.readSome(m_block.data(), m_block.size()) < m_block.size()) {
        ReportWarning(kWarning, "Premature end of data");
        return;
    }
    if (TransparencyFlag()) m_frame->m_hasTransparency = true;
}

// ---------------------------------------------------------------- text and comment

void TGIFTextExtension::LoadBody(GifInput& input) {
    input.readExact(m_block.data(), m_block.size());
    readLines(input, m_lines);
}

void TGIFCommentExtension::LoadBody(GifInput& input) { readLines(input, m_lines); }

// ---------------------------------------------------------------- application

void TGIFApplicationExtension::LoadBody(GifInput& input) {
    uint8_t size = input.u8();
    if (size != 10 && size < 11) throw GIFException("Unsupported Application Extension block size");
    input.readExact(m_ident.data(), m_ident.size());
    // The data starts size bytes after the size byte; with a block size of
    // 10 the identifier's last byte is the first byte of the data.
    input.move(static_cast<int64_t>(size) - 11);
    LoadData(input);
}

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage& frame) : TGIFApplicationExtension(frame) {
    std::memcpy(m_ident.data(), "NETSCAPE2.0", 11);
}

void TGIFAppExtNSLoop::LoadData(GifInput& input) {
    for (;;) {
        uint8_t size, id;
        if (!input.readByte(size) || size == 0) return;
        if (!input.readByte(id)) return;
        int left = size - 1;
        if ((id & kGifLoopSubBlockMask) == kGifLoopCountSubBlock) {
            if (left < 2) throw GIFException("Invalid GIF data");
            m_loopCount = input.u16();
            left -= 2;
        } else if ((id & kGifLoopSubBlockMask) == kGifBufferingSubBlock) {
            if (left < 4) throw GIFException("Invalid GIF data");
            m_bufferingSize = input.u32();
            left -= 4;
        }
        input.skip(static_cast<size_t>(left));
    }
}

void TGIFUnknownAppExtension::LoadData(GifInput& input) {
    m_blocks.clear();
    uint8_t size;
    while (input.readByte(size) && size != 0) {
        auto block = std::make_unique<TGIFBlock>();
        block->Data.resize(size);
        input.readExact(block->Data.data(), size);
        m_blocks.push_back(std::move(block));
    }
}

// ---------------------------------------------------------------- the run of a frame

void TGIFExtensionList::LoadFromStream(GifInput& input, TGIFSubImage& parent) {
    uint8_t b;
    if (!input.readByte(b)) return;
    while (b != ',' && b != ';') {
        if (b != '!') {
            ReportWarning(kWarning, "Invalid extension introducer");
            break;
        }
        const GifExtensionClass* cls = findExtensionClass(input);
        if (!cls) throw GIFException("Unknown extension type");
        input.back();
        std::unique_ptr<TGIFExtension> ext = cls->Create(parent);
        ext->LoadFromStream(input);  // a fault frees the extension
        AppendItem(std::move(ext));
        if (!input.readByte(b)) return;
    }
    input.back();
}

}  // namespace glx
