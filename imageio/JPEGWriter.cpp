#include "imageio/JPEGWriter.h"

#include <cstring>
#include <memory>

#include "imageio/JPEGLibrary.h"

namespace palvex {

namespace {

struct TCompressJob {
    jpeg_compress_struct* Info;
    jpeg::TMemoryDestination* Destination;
    TJPEGBytes* Bytes;
    TRowSource* Pixels;
    const TJPEGWriteSettings* Settings;
};

// Runs under RunGuarded: nothing here may need destruction.
void CompressStep(void* context)
{
    auto& job = *static_cast<TCompressJob*>(context);
    jpeg_compress_struct& info = *job.Info;
    jpeg_CreateCompress(&info, JPEG_LIB_VERSION, sizeof info);
    jpeg::InitDestination(&info, *job.Destination, *job.Bytes);

    info.image_width = static_cast<JDIMENSION>(job.Pixels->Width());
    info.image_height = static_cast<JDIMENSION>(job.Pixels->Height());
    // Blue-green-red rows with the fourth byte skipped convert exactly as the
    // platform's 24-bit rows do.
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, job.Settings->Quality, TRUE);
    if (job.Settings->Grayscale)
        jpeg_set_colorspace(&info, JCS_GRAYSCALE);
    if (job.Settings->Progressive)
        jpeg_simple_progression(&info);
    // This build's default is the integer DCT; output files use the float one.
    info.dct_method = JDCT_FLOAT;

    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const auto y = static_cast<int32_t>(info.next_scanline);
        JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<TColor32*>(job.Pixels->Row(y)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
}

} // namespace

void WriteJPEG(TRowSource& pixels, const TJPEGWriteSettings& settings, TJPEGBytes& bytes)
{
    bytes.clear();
    if (pixels.Width() <= 0 || pixels.Height() <= 0)
        return;
    jpeg::TErrorManager error;
    jpeg_compress_struct info;
    std::memset(&info, 0, sizeof info);
    info.err = jpeg::InitErrorManager(error);
    auto destination = std::make_unique<jpeg::TMemoryDestination>();
    TCompressJob job{&info, destination.get(), &bytes, &pixels, &settings};
    pixels.KeepRows(1);
    bool ok = false;
    try {
        // A source that decodes as it goes can fail in the middle: its
        // exception leaves through here, not by the library's jump.
        ok = jpeg::RunGuarded(error, CompressStep, &job);
    } catch (...) {
        jpeg_destroy_compress(&info);
        bytes.clear();
        throw;
    }
    jpeg_destroy_compress(&info);
    if (!ok) {
        bytes.clear();
        jpeg::RaiseError(error);
    }
}

} // namespace palvex
