// Extension blocks: the class chosen for each, what each keeps, and the
// faults that stop loading.
#include <gtest/gtest.h>

#include "gif/gif_image.h"
#include "gif_test_util.h"

namespace glx::test {
namespace {

std::string loadError(const std::vector<uint8_t>& bytes) {
    TGIFImage img;
    TMemoryStream s(bytes);
    try {
        img.ReadFrom(s);
    } catch (const GIFException& e) {
        return e.what();
    }
    return "";
}

TEST(GifExtensions, GraphicControlFields) {
    GifBuilder b;
    b.header(2, 2, 1).raw({0x21, 0xF9, 4, (3 << 2) | 0x02 | 0x01, 0x34, 0x12, 7, 0}).solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& f = r.image->Frames()[0];
    TGIFGraphicControlExtension* gce = f.GraphicControlExtension();
    ASSERT_NE(gce, nullptr);
    EXPECT_EQ(gce->DisposalMethod(), 3);
    EXPECT_EQ(gce->DelayTime(), 0x1234);
    EXPECT_TRUE(gce->TransparencyFlag());
    EXPECT_TRUE(gce->UserInputFlag());
    EXPECT_EQ(gce->TransparentIndex(), 7);
    EXPECT_TRUE(f.HasTransparency());
    EXPECT_EQ(f.DisposalMethod(), 3);
    EXPECT_EQ(gce->Label(), 0xF9);
}

TEST(GifExtensions, TwoGraphicControlsFirstIsTheFramesOwn) {
    GifBuilder b;
    b.header(2, 2, 1).gce(10, 1, false).gce(20, 2, true, 1).solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& f = r.image->Frames()[0];
    EXPECT_EQ(f.ExtensionItems().Count(), 2);
    EXPECT_EQ(f.GraphicControlExtension(), &f.ExtensionItems()[0]);
    EXPECT_EQ(f.GraphicControlExtension()->Delay(), 10);
    EXPECT_TRUE(f.HasTransparency());
    // Without a graphic control extension: no transparency, disposal 0.
    GifBuilder plain;
    plain.header(2, 2, 1).solid(2, 2, 1).trailer();
    LoadResult p;
    loadInto(p, plain.bytes);
    EXPECT_EQ(p.image->Frames()[0].GraphicControlExtension(), nullptr);
    EXPECT_FALSE(p.image->Frames()[0].HasTransparency());
    EXPECT_EQ(p.image->Frames()[0].DisposalMethod(), 0);
}

TEST(GifExtensions, DeletingTheGraphicControlUnlinksIt) {
    GifBuilder b;
    b.header(2, 2, 1).gce(10, 0, true, 1).solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    TGIFSubImage& f = r.image->Frames()[0];
    f.ExtensionItems().DeleteAt(0);
    EXPECT_EQ(f.GraphicControlExtension(), nullptr);
    EXPECT_FALSE(f.HasTransparency());
}

TEST(GifExtensions, ShortGraphicControlAtTheEndWarns) {
    GifBuilder b;
    b.header(2, 2, 1).raw({0x21, 0xF9, 4, 1, 0});
    LoadResult r;
    loadInto(r, b.bytes);
    EXPECT_TRUE(hasWarning(r, "Premature end of data"));
    ASSERT_EQ(r.image->Frames().Count(), 1);
    EXPECT_FALSE(r.image->Frames()[0].HasTransparency());
}

TEST(GifExtensions, CommentAndPlainText) {
    GifBuilder b;
    b.header(2, 2, 1).raw({0x21, 0xFE, 5, 'a', 'b', 0, 'c', 'd', 2, 'x', 'y', 0});
    b.raw({0x21, 0x01, 12, 1, 0, 2, 0, 30, 0, 40, 0, 8, 16, 1, 0, 3, 'h', 'i', '!', 0});
    b.solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    auto& items = r.image->Frames()[0].ExtensionItems();
    auto* comment = dynamic_cast<TGIFCommentExtension*>(&items[0]);
    ASSERT_NE(comment, nullptr);
    EXPECT_EQ(comment->Lines(), (std::vector<std::string>{"ab", "xy"}));
    auto* text = dynamic_cast<TGIFTextExtension*>(&items[1]);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->GridLeft(), 1);
    EXPECT_EQ(text->GridTop(), 2);
    EXPECT_EQ(text->GridWidth(), 30);
    EXPECT_EQ(text->GridHeight(), 40);
    EXPECT_EQ(text->CellWidth(), 8);
    EXPECT_EQ(text->CellHeight(), 16);
    EXPECT_EQ(text->ForegroundColorIndex(), 1);
    EXPECT_EQ(text->BackgroundColorIndex(), 0);
    EXPECT_EQ(text->Lines(), (std::vector<std::string>{"hi!"}));
}

TEST(GifExtensions, LoopingExtensions) {
    for (const char* ident : {"NETSCAPE2.0", "ANIMEXTS1.0"}) {
        GifBuilder b;
        b.header(2, 2, 1).loop(0, ident).loop(7, ident);
        // Buffering size sub-block (id 2) and an unknown id with extra bytes.
        b.raw({0x21, 0xFF, 11}).raw(std::vector<uint8_t>(ident, ident + 11)).raw({5, 2, 0x10, 0, 0, 1, 3, 4, 8, 7, 0});
        b.solid(2, 2, 1).trailer();
        LoadResult r;
        loadInto(r, b.bytes);
        auto& items = r.image->Frames()[0].ExtensionItems();
        ASSERT_EQ(items.Count(), 3);
        auto* first = dynamic_cast<TGIFAppExtNSLoop*>(&items[0]);
        auto* second = dynamic_cast<TGIFAppExtNSLoop*>(&items[1]);
        auto* third = dynamic_cast<TGIFAppExtNSLoop*>(&items[2]);
        ASSERT_TRUE(first && second && third) << ident;
        EXPECT_EQ(first->LoopCount(), 0);
        EXPECT_EQ(second->LoopCount(), 7);
        EXPECT_EQ(third->BufferingSize(), 0x01000010u);
        EXPECT_EQ(first->AppIdentifierText(), ident);
        EXPECT_EQ(r.image->Frames()[0].IndexData(), std::vector<uint8_t>(4, 1));
    }
}

TEST(GifExtensions, LoopSubBlockTooShortFails) {
    GifBuilder b;
    b.header(2, 2, 1)
        .raw({0x21, 0xFF, 11})
        .raw(std::vector<uint8_t>{'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'});
    b.raw({2, 1, 0, 0}).solid(2, 2, 1).trailer();
    EXPECT_EQ(loadError(b.bytes), "Invalid GIF data");
}

TEST(GifExtensions, UnknownApplicationKeepsRawBlocks) {
    GifBuilder b;
    b.header(2, 2, 1)
        .raw({0x21, 0xFF, 11})
        .raw(std::vector<uint8_t>{'X', 'M', 'P', ' ', 'D', 'a', 't', 'a', 'X', 'M', 'P'});
    b.raw({3, 1, 2, 3, 1, 0xFF, 0}).solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    auto* app = dynamic_cast<TGIFUnknownAppExtension*>(&r.image->Frames()[0].ExtensionItems()[0]);
    ASSERT_NE(app, nullptr);
    ASSERT_EQ(app->RawBlocks().size(), 2u);
    EXPECT_EQ(app->RawBlocks()[0]->Data, (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(app->RawBlocks()[1]->Data, (std::vector<uint8_t>{0xFF}));
    EXPECT_EQ(app->AppIdentifierText(), "XMP DataXMP");
}

TEST(GifExtensions, ApplicationBlockSizes) {
    // Size 10: the identifier's last byte is the first data byte.
    GifBuilder ten;
    ten.header(2, 2, 1).raw({0x21, 0xFF, 10, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 2, 7, 8, 0});
    ten.solid(2, 2, 1).trailer();
    LoadResult r;
    loadInto(r, ten.bytes);
    auto* app = dynamic_cast<TGIFUnknownAppExtension*>(&r.image->Frames()[0].ExtensionItems()[0]);
    ASSERT_NE(app, nullptr);
    ASSERT_EQ(app->RawBlocks().size(), 1u);
    EXPECT_EQ(app->RawBlocks()[0]->Data, (std::vector<uint8_t>{7, 8}));
    EXPECT_EQ(r.image->Frames()[0].IndexData(), std::vector<uint8_t>(4, 1));

    // Size 14: 3 more bytes after the identifier are passed over.
    GifBuilder fourteen;
    fourteen.header(2, 2, 1).raw({0x21, 0xFF, 14}).raw(std::vector<uint8_t>(14, 'Q')).raw({1, 5, 0});
    fourteen.solid(2, 2, 1).trailer();
    LoadResult f;
    loadInto(f, fourteen.bytes);
    auto* app14 = dynamic_cast<TGIFUnknownAppExtension*>(&f.image->Frames()[0].ExtensionItems()[0]);
    ASSERT_NE(app14, nullptr);
    EXPECT_EQ(app14->RawBlocks()[0]->Data, (std::vector<uint8_t>{5}));

    // Below 10: unsupported.
    GifBuilder small;
    small.header(2, 2, 1).raw({0x21, 0xFF, 3, 1, 2, 3, 0}).solid(2, 2, 1).trailer();
    EXPECT_EQ(loadError(small.bytes), "Unsupported Application Extension block size");
}

TEST(GifExtensions, UnknownLabelAndCutOffData) {
    GifBuilder f0;
    f0.header(2, 2, 1).raw({0x21, 0xF0, 0}).solid(2, 2, 1).trailer();
    EXPECT_EQ(loadError(f0.bytes), "Unknown extension type");

    // "!" as the last byte: no label.
    GifBuilder bare;
    bare.header(2, 2, 1).raw({0x21});
    EXPECT_EQ(loadError(bare.bytes), "Unknown extension type");

    // A comment sub-block cut off.
    GifBuilder cut;
    cut.header(2, 2, 1).raw({0x21, 0xFE, 9, 'a', 'b'});
    EXPECT_EQ(loadError(cut.bytes), "Premature end of data");

    // A plain text block cut off.
    GifBuilder text;
    text.header(2, 2, 1).raw({0x21, 0x01, 12, 0, 0, 0});
    EXPECT_EQ(loadError(text.bytes), "Premature end of data");

    // An unknown application's data cut off.
    GifBuilder app;
    app.header(2, 2, 1).raw({0x21, 0xFF, 11}).raw(std::vector<uint8_t>(11, 'Z')).raw({8, 1, 2});
    EXPECT_EQ(loadError(app.bytes), "Premature end of data");

    // An identifier cut off.
    GifBuilder ident;
    ident.header(2, 2, 1).raw({0x21, 0xFF, 11, 'N', 'E', 'T'});
    EXPECT_EQ(loadError(ident.bytes), "Premature end of data");
}

TEST(GifExtensions, StrayByteAfterExtensionsIsTakenAsSeparator) {
    // The byte ending the run is not ",": it still starts the image descriptor.
    GifBuilder b;
    b.header(2, 2, 1).gce(4).raw({0x77, 0, 0, 0, 0, 2, 0, 2, 0, 0}).raw(lzwEncode(std::vector<uint8_t>(4, 1), {2}));
    b.trailer();
    LoadResult r;
    loadInto(r, b.bytes);
    EXPECT_TRUE(hasWarning(r, "Invalid extension introducer"));
    ASSERT_EQ(r.image->Frames().Count(), 1);
    EXPECT_EQ(r.image->Frames()[0].Separator(), 0x77);
    EXPECT_EQ(r.image->Frames()[0].IndexData(), std::vector<uint8_t>(4, 1));
}

TEST(GifExtensions, Registries) {
    EXPECT_EQ(TExtensionList::Find(0xF9), &TGIFGraphicControlExtension::Class_);
    EXPECT_EQ(TExtensionList::Find(0x01), &TGIFTextExtension::Class_);
    EXPECT_EQ(TExtensionList::Find(0xFE), &TGIFCommentExtension::Class_);
    EXPECT_EQ(TExtensionList::Find(0xFF), &TGIFApplicationExtension::Class_);
    EXPECT_EQ(TExtensionList::Find(0xF0), nullptr);
    EXPECT_EQ(TAppExtensionList::Find(reinterpret_cast<const uint8_t*>("ANIMEXTS1.0")), &TGIFAppExtNSLoop::Class_);
    EXPECT_EQ(TAppExtensionList::Find(reinterpret_cast<const uint8_t*>("NETSCAPE2.1")), nullptr);
}

}  // namespace
}  // namespace glx::test
