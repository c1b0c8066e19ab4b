// The fuzz harness of what the readers learn from a file's metadata: the EXIF
// orientation, the JPEG header walk that finds it and the ICC profile, and
// Little CMS on the profile for every kind of pixels. Built with libFuzzer
// it is a fuzz target; with PALVEX_FUZZ_REPLAY it replays files and folders
// (profiles, and JPEG files for their headers) for CTest.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <vector>

#include "FuzzReplay.h"
#include "imageio/ByteReader.h"
#include "imageio/ColorProfile.h"
#include "imageio/Exif.h"
#include "imageio/JPEGMetadata.h"

using namespace palvex;

namespace {

void TryProfile(std::span<const uint8_t> profile)
{
    for (TColorModel model : {TColorModel::Gray, TColorModel::RGB, TColorModel::CMYK, TColorModel::CMYKInverted}) {
        const auto conversion = TColorConversion::ToSRGB(profile, model);
        if (!conversion)
            continue;
        TColor32 pixels[7] = {0xFF000000u, 0xFFFFFFFFu, 0x80123456u, 0xFF808080u, 0x00FF0000u, 0xFF00FF00u, 0xFF0000FFu};
        if (model == TColorModel::Gray || model == TColorModel::RGB) {
            conversion->ConvertPixels(pixels, 7);
        } else {
            const uint8_t samples[8] = {0, 0, 0, 0, 255, 128, 64, 32};
            conversion->ConvertCMYK(samples, pixels, 2);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    volatile uint16_t orientation = ExifOrientation(bytes);
    orientation = ExifOrientationOfApp1(bytes);
    orientation = ExifOrientationOfBlock(bytes);
    (void)orientation;
    TByteReader in(bytes, nullptr);
    const TJPEGMetadata metadata = ReadJPEGMetadata(in);
    if (!metadata.ColorProfile.empty())
        TryProfile(metadata.ColorProfile);
    TryProfile(bytes);
    return 0;
}

#ifdef PALVEX_FUZZ_REPLAY
int main(int argc, char** argv)
{
    return palvex::ReplayFuzzInputs(argc, argv, "the metadata readers");
}
#endif
