// libjpeg with its whole-image arrays in our blocks decodes exactly as with its
// own, and gives coefficient rows back while the output pass runs.
#include "imageio/JPEGArrays.h"

#include <cstring>

#include "TestMain.h"
#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"

using namespace palvex;

namespace {

using Bytes = std::vector<uint8_t>;

// A progressive picture large enough for several 2 MB chunks of coefficients.
Bytes ProgressivePicture(int width, int height)
{
    TBitmap bitmap;
    bitmap.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bitmap.ScanLine(y) + 3 * x;
            p[0] = uint8_t(x * 7 + y), p[1] = uint8_t((x * y) >> 5), p[2] = uint8_t(y * 3 ^ x);
        }
    TJPEGImage image;
    image.AssignFrom(bitmap);
    image.SetProgressiveMode(true);
    TMemoryStream out;
    image.SaveStream(out);
    return out.Bytes();
}

struct TDecoded {
    Bytes Pixels;
    size_t Released = 0;
    size_t HeldAfter = 0;
};

// Decodes with the library's arrays, or with ours when large is set.
TDecoded Decode(const Bytes& jpeg, bool large, bool quantize)
{
    jpeg_decompress_struct info;
    jpeg_error_mgr error;
    info.err = jpeg_std_error(&error);
    jpeg_create_decompress(&info);
    jpeg::TLargeArrays arrays;
    if (large)
        arrays.Install(&info);
    jpeg_mem_src(&info, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.dct_method = JDCT_FLOAT;
    info.out_color_space = JCS_EXT_BGR;
    if (quantize) {
        info.quantize_colors = TRUE;
        info.desired_number_of_colors = 236;
    }
    jpeg_start_decompress(&info);
    if (!quantize)
        arrays.AllowRelease();
    const size_t rowBytes = size_t(info.output_width) * info.output_components;
    TDecoded result;
    result.Pixels.resize(rowBytes * info.output_height);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = result.Pixels.data() + rowBytes * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    result.Released = arrays.ReleasedBytes();
    jpeg_finish_decompress(&info);
    result.HeldAfter = arrays.HeldBytes();
    jpeg_destroy_decompress(&info);
    return result;
}

} // namespace

TEST(JPEGArrays, SamePixelsAsTheLibrarysOwnArrays)
{
    const Bytes jpeg = ProgressivePicture(2048, 1536);
    for (bool quantize : {false, true}) {
        const TDecoded own = Decode(jpeg, false, quantize);
        const TDecoded large = Decode(jpeg, true, quantize);
        EXPECT_TRUE(own.Pixels == large.Pixels) << quantize;
        EXPECT_EQ(large.HeldAfter, 0u); // everything goes with the picture's pool
        if (quantize)
            EXPECT_EQ(large.Released, 0u); // the quantiser's passes keep every row
        else
            EXPECT_GE(large.Released, size_t(4) << 20); // most of the 8 MB of luminance
    }
}

TEST(JPEGArrays, ImageDecodingGivesTheSamePixelsWithOrWithoutRelease)
{
    // Through TJPEGImage: the view (with release) equals the palette-free
    // decode of the library's own arrays.
    const Bytes jpeg = ProgressivePicture(1200, 2400);
    TJPEGImage image;
    TMemoryStream in(jpeg);
    image.LoadStream(in);
    EXPECT_TRUE(image.ProgressiveMode());
    const TBitmap& view = image.DecodedBitmap();
    const TDecoded own = Decode(jpeg, false, false);
    Bytes rows;
    for (int y = 0; y < view.Height(); ++y)
        rows.insert(rows.end(), view.ScanLine(y), view.ScanLine(y) + 3 * view.Width());
    EXPECT_TRUE(rows == own.Pixels);
    // A decoding that fails half-way frees its blocks with the library's object.
    Bytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 3));
    TJPEGImage partial;
    TMemoryStream cutIn(cut);
    partial.LoadStream(cutIn);
    TBitmap32 pixels;
    EXPECT_NO_THROW(partial.DecodeInto(pixels));
    EXPECT_EQ(pixels.Width(), 1200);
}
