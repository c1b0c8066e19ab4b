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

#include "imageio/FileFormats.h"
#include "imageio/JPEGImage.h"
#include "imageio/Picture.h"
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
    try {
        TMemoryStream stream(std::vector<uint8_t>(data, data + size));
        TPicture picture;
        std::unique_ptr<TGraphic> graphic = cls->Create();
        graphic->LoadStream(stream);
        picture.SetGraphic(std::move(graphic));
        // A JPEG's road in a run: rows decoded as the resampler reads them.
        if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic())) {
            if (auto rows = jpeg->OpenByteRows()) {
                TBitmap32 reduced;
                reduced.SetSize(7, 5);
                StretchRows(reduced, *rows, sfCosine);
                rows->Finish();
            }
        }
        // The road of a picture loaded whole: into 32-bit pixels.
        TBitmap32 bitmap;
        bitmap.AssignFrom(&picture);
    } catch (const Exception&) {
        // The system's own failure: what a bad file must give.
    }
    return 0;
}

#ifdef PALVEX_FUZZ_REPLAY
namespace {
int Replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 1;
}
} // namespace

int main(int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path arg = argv[i];
        // A missing sample folder would replay nothing and pass.
        if (!std::filesystem::exists(arg)) {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 1;
        }
        if (std::filesystem::is_directory(arg)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
                if (entry.is_regular_file())
                    count += Replay(entry.path());
        } else {
            count += Replay(arg);
        }
    }
    std::printf("replayed %d inputs through the %s reader\n", count, PALVEX_FUZZ_EXTENSION);
    return 0;
}
#endif
