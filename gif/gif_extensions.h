// The extension blocks in front of a GIF frame (introducer 0x21, label,
// data): graphic control, plain text, comment and application extensions,
// the two registries that pick a class for each block, and the list that
// reads a frame's run of extensions.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gif/gif_format.h"
#include "gif/gif_item.h"

namespace glx {

class TGIFSubImage;
class TGIFExtension;

// An extension class as a value: the registries map labels and application
// identifiers to these, and RefineClass answers one of them.
struct GifExtensionClass {
    const char* Name;
    uint8_t Label;
    // Looks at the bytes ahead (after the label, or after an earlier
    // look-ahead) and answers the class that should read them, itself, or
    // none. The cursor is left wherever the look-ahead ended.
    const GifExtensionClass* (*RefineClass)(const GifExtensionClass* self, GifInput& input);
    std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage& frame);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage& frame);
    ~TGIFExtension() override = default;

    TGIFSubImage& Frame() const { return *m_frame; }
    bool NeedsGIF89a() const override { return true; }
    virtual const GifExtensionClass& Class() const = 0;
    uint8_t Label() const { return Class().Label; }
    // Reads from the introducer on: "!" and the class's label, then the body.
    void LoadFromStream(GifInput& input) override;

protected:
    virtual void LoadBody(GifInput& input) = 0;
    TGIFSubImage* m_frame;
};

// Graphic control extension (label 0xF9): timing, disposal, transparency.
class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFGraphicControlExtension(TGIFSubImage& frame);
    ~TGIFGraphicControlExtension() override;
    const GifExtensionClass& Class() const override { return Class_; }

    uint8_t BlockSize() const { return m_block[0]; }
    uint8_t PackedFlags() const { return m_block[1]; }
    bool TransparencyFlag() const { return (m_block[1] & kGifTransparencyFlag) != 0; }
    bool HasTransparency() const { return TransparencyFlag(); }
    bool UserInputFlag() const { return (m_block[1] & kGifUserInputFlag) != 0; }
    // 0 none, 1 leave in place, 2 restore to background, 3 restore previous; 4..7 as read
    int DisposalMethod() const { return (m_block[1] >> kGifDisposalShift) & kGifDisposalMask; }
    // Hundredths of a second.
    int DelayTime() const { return m_block[2] | (m_block[3] << 8); }
    int Delay() const { return DelayTime(); }
    uint8_t TransparentIndex() const { return m_block[4]; }

protected:
    void LoadBody(GifInput& input) override;

private:
    std::array<uint8_t, 6> m_block{4, 0, 0, 0, 0, 0};
};

// Plain text extension (label 0x01).
class TGIFTextExtension : public TGIFExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFTextExtension(TGIFSubImage& frame) : TGIFExtension(frame) {}
    const GifExtensionClass& Class() const override { return Class_; }

    int GridLeft() const { return m_block[1] | (m_block[2] << 8); }
    int GridTop() const { return m_block[3] | (m_block[4] << 8); }
    int GridWidth() const { return m_block[5] | (m_block[6] << 8); }
    int GridHeight() const { return m_block[7] | (m_block[8] << 8); }
    int CellWidth() const { return m_block[9]; }
    int CellHeight() const { return m_block[10]; }
    int ForegroundColorIndex() const { return m_block[11]; }
    int BackgroundColorIndex() const { return m_block[12]; }
    const std::vector<std::string>& Lines() const { return m_lines; }

protected:
    void LoadBody(GifInput& input) override;

private:
    std::array<uint8_t, 13> m_block{12};
    std::vector<std::string> m_lines;
};

// Comment extension (label 0xFE).
class TGIFCommentExtension : public TGIFExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFCommentExtension(TGIFSubImage& frame) : TGIFExtension(frame) {}
    const GifExtensionClass& Class() const override { return Class_; }
    const std::vector<std::string>& Lines() const { return m_lines; }

protected:
    void LoadBody(GifInput& input) override;

private:
    std::vector<std::string> m_lines;
};

// Application extension (label 0xFF): an 11-byte identifier and data whose
// reading the descendant decides.
class TGIFApplicationExtension : public TGIFExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFApplicationExtension(TGIFSubImage& frame) : TGIFExtension(frame) {}
    const std::array<uint8_t, 11>& AppIdentifier() const { return m_ident; }
    std::string AppIdentifierText() const { return std::string(m_ident.begin(), m_ident.end()); }

protected:
    void LoadBody(GifInput& input) override;
    virtual void LoadData(GifInput& input) = 0;
    std::array<uint8_t, 11> m_ident{};
};

// "NETSCAPE2.0" / "ANIMEXTS1.0": loop count and buffering size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFAppExtNSLoop(TGIFSubImage& frame);
    const GifExtensionClass& Class() const override { return Class_; }
    int LoopCount() const { return m_loopCount; }
    uint32_t BufferingSize() const { return m_bufferingSize; }

protected:
    void LoadData(GifInput& input) override;

private:
    int m_loopCount = 0;
    uint32_t m_bufferingSize = 0;
};

// One raw data sub-block.
struct TGIFBlock {
    std::vector<uint8_t> Data;
    int Size() const { return static_cast<int>(Data.size()); }
};

// An application extension nobody registered: its sub-blocks kept as read.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    static const GifExtensionClass Class_;
    explicit TGIFUnknownAppExtension(TGIFSubImage& frame) : TGIFApplicationExtension(frame) {}
    const GifExtensionClass& Class() const override { return Class_; }
    const std::vector<std::unique_ptr<TGIFBlock>>& RawBlocks() const { return m_blocks; }

protected:
    void LoadData(GifInput& input) override;

private:
    std::vector<std::unique_ptr<TGIFBlock>> m_blocks;
};

// The extensions of one frame, in file order.
class TGIFExtensionList : public TGIFList<TGIFExtension> {
public:
    using TGIFList::TGIFList;
    // Reads the run of extensions in front of parent's image; leaves the
    // cursor on the byte that ended the run.
    void LoadFromStream(GifInput& input, TGIFSubImage& parent);
};

// Registry of extension classes by label (0x01, 0xF9, 0xFE, 0xFF), searched
// from the last entry to the first.
class TExtensionList {
public:
    static const GifExtensionClass* Find(uint8_t label);
};

// Registry of application extension classes by 11-byte identifier
// ("NETSCAPE2.0", "ANIMEXTS1.0"), searched from the last entry to the first.
class TAppExtensionList {
public:
    static const GifExtensionClass* Find(const uint8_t* identifier);
};

// With the cursor just after a "!": the class that should read the
// extension, or none. The cursor is restored.
const GifExtensionClass* findExtensionClass(GifInput& input);

}  // namespace glx
