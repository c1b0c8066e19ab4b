// One fuzz harness for every picture reader, compiled once per extension
// (PALVEX_FUZZ_EXTENSION). Built with libFuzzer it is a fuzz target; built
// with PALVEX_FUZZ_REPLAY it replays files and folders given on the command
// line, so CTest runs the sample corpus through it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "FuzzReplay.h"
#include "imageio/FileFormats.h"
#include "imageio/Picture.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

using namespace palvex;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TPictureFormatsScope formats;
    const TGraphicClass* cls = FileFormats().FindClassForExtension(PALVEX_FUZZ_EXTENSION);
    if (!cls || !cls->Create)
        __builtin_trap();
    // The batch run's road: rows read as the resampler asks for them.
    try {
        TMemoryStream stream(std::vector<uint8_t>(data, data + size));
        std::unique_ptr<TGraphic> graphic = cls->Create();
        std::unique_ptr<TPictureReader> rows = graphic->OpenRows(stream);
        if (rows->Width() > 0 && rows->Height() > 0) {
            TBitmap32 reduced;
            reduced.SetSize(7, 5);
            StretchRows(reduced, *rows, sfCosine);
        }
        rows->Finish();
    } catch (const Exception&) {
        // The system's own failure: what a bad file must give.
    }
    // The whole load of the picture container, into 32-bit pixels.
    try {
        TMemoryStream stream(std::vector<uint8_t>(data, data + size));
        TPicture picture;
        std::unique_ptr<TGraphic> graphic = cls->Create();
        graphic->LoadStream(stream);
        picture.SetGraphic(std::move(graphic));
        TBitmap32 bitmap;
        bitmap.AssignFrom(&picture);
    } catch (const Exception&) {
    }
    return 0;
}

#ifdef PALVEX_FUZZ_REPLAY
int main(int argc, char** argv)
{
    return palvex::ReplayFuzzInputs(argc, argv, "the " PALVEX_FUZZ_EXTENSION " reader");
}
#endif
