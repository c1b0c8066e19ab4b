// The GIF reader: the first frame on its logical screen against ImageMagick,
// transparency when drawn, giflib's errors, and cut or damaged files.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gif_lib.h>

#include "TestMain.h"
#include "imageio/decoders/GIFImage.h"
#include "tests/decoders/CorpusCompare.h"

namespace palvex::test {
namespace {

namespace fs = std::filesystem;

fs::path GifDir() { return DataDir() / "gif"; }

// ImageMagick's first frame placed on its page (the logical screen), clipped
// to it, with alpha 0 where the frame does not reach.
MagickPicture MagickScreen(const fs::path& path)
{
    MagickPicture screen;
    int pageW = 0, pageH = 0, x = 0, y = 0;
    const std::string cmd = "/usr/bin/convert '" + path.string() + "[0]' -format '%W %H %X %Y' info: 2>/dev/null";
    FILE* p = ::popen(cmd.c_str(), "r");
    if (!p)
        return screen;
    const bool ok = std::fscanf(p, "%d %d %d %d", &pageW, &pageH, &x, &y) == 4;
    ::pclose(p);
    const MagickPicture frame = MagickDecode(path);
    if (!ok || frame.Width == 0 || pageW <= 0 || pageH <= 0)
        return screen;
    screen.Width = pageW;
    screen.Height = pageH;
    screen.RGBA.assign(size_t(pageW) * pageH * 4, 0);
    for (int fy = 0; fy < frame.Height; ++fy)
        for (int fx = 0; fx < frame.Width; ++fx) {
            const int sx = x + fx, sy = y + fy;
            if (sx < 0 || sy < 0 || sx >= pageW || sy >= pageH)
                continue;
            std::memcpy(&screen.RGBA[(size_t(sy) * pageW + sx) * 4], &frame.RGBA[(size_t(fy) * frame.Width + fx) * 4], 4);
        }
    return screen;
}

void ToBitmap(const TGIFImage& gif, TBitmap32& out)
{
    out.SetSize(gif.Width(), gif.Height());
    std::copy(gif.Pixels().begin(), gif.Pixels().end(), out.PixelData());
}

std::vector<GifColorType> BlackAndWhite()
{
    GifColorType black{}, white{};
    white.Red = white.Green = white.Blue = 255;
    return {black, white};
}

// A GIF written by giflib's encoder: one frame of indices on a screen.
struct GifLayout {
    int screenW = 2, screenH = 2;
    int left = 0, top = 0, width = 2, height = 2;
    std::vector<GifColorType> global = BlackAndWhite();
    std::vector<GifColorType> local;
    int transparent = NO_TRANSPARENT_COLOR;
    bool interlace = false;
    std::vector<uint8_t> indices; // width x height, rows top to bottom
};

int WriteToVector(GifFileType* gif, const GifByteType* data, int length)
{
    auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
    out->insert(out->end(), data, data + length);
    return length;
}

ColorMapObject* MakeMap(const std::vector<GifColorType>& colors)
{
    int size = 2;
    while (size < int(colors.size()))
        size *= 2;
    ColorMapObject* map = GifMakeMapObject(size, nullptr);
    for (size_t i = 0; i < colors.size(); ++i)
        map->Colors[i] = colors[i];
    return map;
}

std::vector<uint8_t> BuildGif(const GifLayout& layout)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
    EGifSetGifVersion(gif, true);
    ColorMapObject* global = layout.global.empty() ? nullptr : MakeMap(layout.global);
    EGifPutScreenDesc(gif, layout.screenW, layout.screenH, 8, 0, global);
    if (layout.transparent != NO_TRANSPARENT_COLOR) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 0, layout.transparent};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    ColorMapObject* local = layout.local.empty() ? nullptr : MakeMap(layout.local);
    EGifPutImageDesc(gif, layout.left, layout.top, layout.width, layout.height, layout.interlace, local);
    std::vector<int> order;
    if (layout.interlace) {
        for (auto [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int r = start; r < layout.height; r += step)
                order.push_back(r);
    } else {
        for (int r = 0; r < layout.height; ++r)
            order.push_back(r);
    }
    std::vector<GifPixelType> line(layout.width);
    for (int r : order) {
        std::memcpy(line.data(), &layout.indices[size_t(r) * layout.width], layout.width);
        EGifPutLine(gif, line.data(), layout.width);
    }
    EGifCloseFile(gif, &error);
    GifFreeMapObject(global);
    GifFreeMapObject(local);
    return out;
}

std::unique_ptr<TGIFImage> LoadGif(const std::vector<uint8_t>& bytes)
{
    auto gif = std::make_unique<TGIFImage>();
    TMemoryStream stream(bytes);
    gif->LoadStream(stream);
    return gif;
}

// Corpus files ImageMagick refuses (or shows black) that are refused here
// too, with these messages.
const std::map<std::string, std::string>& Refused()
{
    static const std::map<std::string, std::string> refused = {
        {"pillow__zero_width.gif", "Premature end of data"},
        {"imagers__zero-loop-count.gif", "Unknown GIF block type"},
        // Zero-sized frames whose image data is missing too.
        {"pygif__image-zero-width.gif", "Premature end of data"},
        {"pygif__image-zero-height.gif", "Premature end of data"},
        {"pygif__image-zero-size.gif", "Premature end of data"},
        // No frame at all.
        {"pygif__max-size.gif", "Premature end of data"},
        {"pygif__zero-size.gif", "Premature end of data"},
        {"pygif__zero-width.gif", "Premature end of data"},
        {"pygif__zero-height.gif", "Premature end of data"},
        {"pygif__no-data.gif", "Premature end of data"},
        // Codes beyond the table: ImageMagick refuses or shows black.
        {"pygif__overflow-codes.gif", "Premature end of data"},
        {"pygif__overflow-codes-max.gif", "Premature end of data"},
        {"pygif__invalid-code.gif", "Corrupt GIF image data"},
        // A legal code stream that fills the code table and goes on without a
        // clear code; giflib reads it wrongly and runs off the end.
        {"pygif__max-codes.gif", "Premature end of data"},
    };
    return refused;
}


class GifReader : public RegisteredFormats {};

TEST_F(GifReader, CorpusMatchesImageMagick)
{
    // Too large for ImageMagick's limits; the suite's own frames are compared.
    const std::set<std::string> onlySuite = {"pygif__max-width.gif", "pygif__max-height.gif"};
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(GifDir())) {
        if (entry.path().extension() != ".gif")
            continue;
        const std::string name = entry.path().filename().string();
        SCOPED_TRACE(name);
        std::string failure;
        TGIFImage gif;
        try {
            gif.LoadFile(entry.path().string());
        } catch (const GIFException& e) {
            failure = e.what();
        }
        const auto it = Refused().find(name);
        if (it != Refused().end()) {
            EXPECT_EQ(failure, it->second);
            continue;
        }
        if (onlySuite.count(name)) {
            EXPECT_EQ(failure, "");
            continue;
        }
        const MagickPicture magick = MagickScreen(entry.path());
        if (!failure.empty() || magick.Width == 0) {
            ADD_FAILURE() << "ours: \"" << failure << "\", ImageMagick width " << magick.Width;
            continue;
        }
        TBitmap32 ours;
        ToBitmap(gif, ours);
        EXPECT_EQ(MaxChannelDifference(ours, magick, true), 0) << FirstDifference(ours, magick, true);
        ++compared;
    }
    EXPECT_GT(compared, 80);
}

// The test suite's expected first frame for a file, from its .conf (raw
// RGBA, or a PNG decoded by ImageMagick); empty when it names none.
MagickPicture SuiteFrame(const std::string& test)
{
    MagickPicture frame;
    const fs::path dir = GifDir() / "pygif-expected";
    std::ifstream conf(dir / (test + ".conf"));
    std::string line, section, file;
    while (std::getline(conf, line)) {
        if (!line.empty() && line[0] == '[')
            section = line;
        else if (section == "[config]" && line.rfind("width = ", 0) == 0)
            frame.Width = std::stoi(line.substr(8));
        else if (section == "[config]" && line.rfind("height = ", 0) == 0)
            frame.Height = std::stoi(line.substr(9));
        else if (section == "[frame0]" && (line.rfind("pixels = ", 0) == 0 || line.rfind("image = ", 0) == 0))
            file = line.substr(line.find('=') + 2);
    }
    if (file.empty())
        return {};
    if (file.ends_with(".rgba")) {
        frame.RGBA = ReadFileBytes(dir / file);
        return frame;
    }
    return MagickDecode(dir / file);
}

TEST_F(GifReader, SuiteFirstFramesMatch)
{
    // Its frames are exact, with transparent pixels as 0,0,0,0 (ours keep
    // the palette colour under alpha 0, so only alpha is compared there).
    // In these its first frame combines several images, where this reader
    // (and ImageMagick) show the first image alone.
    const std::set<std::string> combined = {"pygif__high-color.gif", "pygif__images-combine.gif",
                                            "pygif__images-overlap.gif", "pygif__dispose-restore-previous.gif"};
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(GifDir())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("pygif__", 0) != 0)
            continue;
        const MagickPicture expected = SuiteFrame(name.substr(7, name.size() - 11));
        if (expected.RGBA.empty() || combined.count(name))
            continue;
        SCOPED_TRACE(name);
        TGIFImage gif;
        try {
            gif.LoadFile(entry.path().string());
        } catch (const GIFException& e) {
            EXPECT_TRUE(Refused().count(name)) << e.what();
            continue;
        }
        ASSERT_EQ(gif.Width(), expected.Width);
        ASSERT_EQ(gif.Height(), expected.Height);
        ASSERT_EQ(expected.RGBA.size(), gif.Pixels().size() * 4);
        int wrong = 0;
        for (size_t i = 0; i < gif.Pixels().size(); ++i) {
            const TColor32 c = gif.Pixels()[i];
            const uint8_t* e = &expected.RGBA[4 * i];
            if (AlphaComponent(c) != e[3] ||
                (e[3] != 0 && c != Color32(e[0], e[1], e[2], e[3])))
                ++wrong;
        }
        EXPECT_EQ(wrong, 0);
        ++compared;
    }
    EXPECT_GT(compared, 50);
}

TEST_F(GifReader, FrameOnTheScreenWithItsPaletteAndTransparency)
{
    // A 2x2 frame at (1,1) on a 4x3 screen, local palette over the global one,
    // index 2 transparent; the screen outside the frame is transparent too.
    GifLayout layout;
    layout.screenW = 4, layout.screenH = 3, layout.left = 1, layout.top = 1;
    layout.local = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {1, 2, 3}};
    layout.transparent = 2;
    layout.indices = {0, 1, 2, 3};
    auto gif = LoadGif(BuildGif(layout));
    ASSERT_EQ(gif->Width(), 4);
    ASSERT_EQ(gif->Height(), 3);
    const auto& px = gif->Pixels();
    EXPECT_EQ(px[0], Color32(0, 0, 0, 0));
    EXPECT_EQ(px[4 + 1], Color32(10, 20, 30, 255));
    EXPECT_EQ(px[4 + 2], Color32(40, 50, 60, 255));
    EXPECT_EQ(AlphaComponent(px[8 + 1]), 0u);
    EXPECT_EQ(px[8 + 2], Color32(1, 2, 3, 255));
    EXPECT_EQ(px[8 + 3], Color32(0, 0, 0, 0));

    // Drawn: transparent pixels leave the canvas alone, opaque ones replace it.
    TBitmap32 canvas;
    canvas.SetSize(8, 6);
    canvas.FillAll(Color32(200, 100, 50, 255));
    gif->DrawInto(canvas, TRect{0, 0, 8, 6});
    EXPECT_EQ(canvas.Pixel(0, 0), Color32(200, 100, 50, 255));
    EXPECT_EQ(canvas.Pixel(2, 2), Color32(10, 20, 30, 255)); // scaled twice
    EXPECT_EQ(canvas.Pixel(3, 3), Color32(10, 20, 30, 255));
    EXPECT_EQ(canvas.Pixel(2, 4), Color32(200, 100, 50, 255));
    EXPECT_EQ(canvas.Pixel(5, 5), Color32(1, 2, 3, 255));
    // A rectangle partly off the canvas is clipped.
    canvas.FillAll(Color32(9, 9, 9, 255));
    gif->DrawInto(canvas, TRect{-1, -1, 3, 2});
    EXPECT_EQ(canvas.Pixel(0, 0), Color32(10, 20, 30, 255));
    EXPECT_EQ(canvas.Pixel(3, 3), Color32(9, 9, 9, 255));

    // The global palette serves a frame without its own; an index past the
    // palette shows black.
    layout.local.clear();
    layout.transparent = NO_TRANSPARENT_COLOR;
    layout.global = {{5, 6, 7}, {8, 9, 10}};
    layout.indices = {1, 0, 7, 1};
    gif = LoadGif(BuildGif(layout));
    EXPECT_EQ(gif->Pixels()[4 + 1], Color32(8, 9, 10, 255));
    EXPECT_EQ(gif->Pixels()[8 + 1], Color32(0, 0, 0, 255));
}

TEST_F(GifReader, InterlacedRowsAndClippedFrames)
{
    // 3x11 interlaced: row r holds index r; the passes must land on their rows.
    GifLayout layout;
    layout.screenW = 3, layout.screenH = 11, layout.width = 3, layout.height = 11;
    layout.interlace = true;
    layout.global.clear();
    for (int i = 0; i < 16; ++i)
        layout.global.push_back({uint8_t(i * 10), uint8_t(i), 0});
    for (int r = 0; r < 11; ++r)
        layout.indices.insert(layout.indices.end(), 3, uint8_t(r));
    auto gif = LoadGif(BuildGif(layout));
    for (int r = 0; r < 11; ++r)
        EXPECT_EQ(gif->Pixels()[size_t(r) * 3 + 2], Color32(uint8_t(r * 10), uint8_t(r), 0, 255)) << r;

    // A frame reaching past the screen's right and bottom edges is clipped.
    layout.screenW = 2, layout.screenH = 4, layout.left = 1, layout.top = 2;
    gif = LoadGif(BuildGif(layout));
    ASSERT_EQ(gif->Width(), 2);
    ASSERT_EQ(gif->Height(), 4);
    EXPECT_EQ(gif->Pixels()[2 * 2 + 0], Color32(0, 0, 0, 0));
    EXPECT_EQ(gif->Pixels()[2 * 2 + 1], Color32(0, 0, 0, 255));
    EXPECT_EQ(gif->Pixels()[3 * 2 + 1], Color32(10, 1, 0, 255));

    // A screen of no size takes the frame's extent.
    layout.screenW = 0, layout.screenH = 0, layout.interlace = false;
    gif = LoadGif(BuildGif(layout));
    EXPECT_EQ(gif->Width(), 4);
    EXPECT_EQ(gif->Height(), 13);
}

TEST_F(GifReader, ErrorsAreGifExceptions)
{
    GifLayout small;
    small.indices = {0, 1, 1, 0};
    const std::vector<uint8_t> good = BuildGif(small);
    auto expectFailure = [](const std::vector<uint8_t>& bytes, const std::string& message) {
        TGIFImage gif;
        TMemoryStream stream(bytes);
        EXPECT_THROW_MSG(gif.LoadStream(stream), GIFException, message);
        EXPECT_TRUE(gif.Empty());
    };
    const std::string text = "GIF? no, just some text";
    expectFailure(std::vector<uint8_t>(text.begin(), text.end()), "Invalid GIF signature");
    expectFailure({}, "Premature end of data");
    expectFailure({'G', 'I', 'F'}, "Premature end of data");
    for (size_t cut : {size_t(10), size_t(13), size_t(20), good.size() - 3})
        expectFailure(std::vector<uint8_t>(good.begin(), good.begin() + cut), "Premature end of data");
    // Only the trailer missing: the picture is complete.
    EXPECT_EQ(LoadGif(std::vector<uint8_t>(good.begin(), good.end() - 1))->Pixels()[1], Color32(255, 255, 255, 255));

    // Header, 2-colour global palette, then a block introducer that is none.
    std::vector<uint8_t> odd(good.begin(), good.begin() + 13 + 6);
    odd.push_back(0x99);
    expectFailure(odd, "Unknown GIF block type");
    // No frame before the trailer.
    std::vector<uint8_t> empty(good.begin(), good.begin() + 13 + 6);
    empty.push_back(0x3B);
    expectFailure(empty, "Premature end of data");

    // Beyond the side and pixel limits: refused before a pixel is allocated.
    GifLayout big;
    big.screenW = 65535, big.screenH = 65535, big.indices = {0, 1, 1, 0};
    expectFailure(BuildGif(big), "Corrupt GIF image data");
    big.screenW = 20000, big.screenH = 20000;
    expectFailure(BuildGif(big), "Corrupt GIF image data");
    // A zero-sized frame holds no picture.
    std::vector<uint8_t> none = good;
    ASSERT_EQ(none[19], 0x2C); // the image descriptor after the 2-colour palette
    none[24] = none[25] = 0;   // its width
    expectFailure(none, "Corrupt GIF image data");
}

TEST_F(GifReader, TransparentPixelsOfANewBitmapAreBlackWhateverItsBlockHeld)
{
    // 400x400: a block large enough to be kept after the white picture before it.
    GifLayout layout;
    layout.screenW = layout.width = 400;
    layout.screenH = layout.height = 400;
    layout.transparent = 0;
    layout.indices.assign(size_t(400) * 400, 0);
    layout.indices[0] = 1;
    const std::vector<uint8_t> bytes = BuildGif(layout);
    {
        TBitmap32 earlier;
        earlier.SetSize(400, 400);
        earlier.FillAll(Color32(255, 255, 255, 255));
    }
    TBitmap32 out;
    DecodeBytes("gif", bytes, out);
    ASSERT_EQ(out.Width(), 400);
    EXPECT_EQ(out.Pixel(0, 0), Color32(255, 255, 255, 255));
    size_t black = 0;
    for (int32_t y = 0; y < 400; ++y)
        for (int32_t x = 0; x < 400; ++x)
            black += out.Pixel(x, y) == Color32(0, 0, 0, 255);
    EXPECT_EQ(black, size_t(400) * 400 - 1);

    // A bitmap that already had the size keeps what the drawing leaves alone.
    out.FillAll(Color32(1, 2, 3, 255));
    DecodeBytes("gif", bytes, out);
    EXPECT_EQ(out.Pixel(9, 9), Color32(1, 2, 3, 255));
}

TEST_F(GifReader, KeepsTheFileAndFailsLoadsCleanly)
{
    const std::vector<uint8_t> bytes = ReadFileBytes(GifDir() / "gen__gif_transparent.gif");
    auto gif = LoadGif(bytes);
    TMemoryStream saved;
    gif->SaveStream(saved);
    EXPECT_EQ(saved.Bytes(), bytes);

    // A failed load keeps the picture held before.
    const int32_t width = gif->Width();
    TMemoryStream broken(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 100));
    EXPECT_THROW(gif->LoadStream(broken), GIFException);
    EXPECT_EQ(gif->Width(), width);

    // Through the registry, as a run loads it.
    TBitmap32 out;
    DecodeBytes("gif", bytes, out);
    EXPECT_EQ(out.Width(), 64);
    EXPECT_EQ(out.Height(), 48);
}

TEST_F(GifReader, MutationsGiveAPictureOrTheFormatsError)
{
    for (const char* name : {"gen__gif_interlaced.gif", "gen__gif_transparent.gif", "gen__gif_local_palettes.gif",
                             "imagers__issue_1455_oversized.gif", "pygif__depth1.gif", "pygif__large-codes.gif"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFileBytes(GifDir() / name);
        MutationSweep("gif", bytes, 64, std::max<size_t>(1, bytes.size() / 64));
    }
}

} // namespace
} // namespace palvex::test
