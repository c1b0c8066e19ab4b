// Loads one picture file into a TBitmap32 the way the batch run does, so that
// a wrapper can read the process's peak resident memory.
//
//   bench_load_memory FILE
#include <cstdio>
#include <exception>

#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "raster/Bitmap32.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    palvex::TPictureFormatsScope formats;
    try {
        palvex::TBitmap32 bitmap;
        LoadPictureFile(bitmap, argv[1]);
        std::printf("loaded %dx%d\n", bitmap.Width(), bitmap.Height());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
