// The road from a picture file to pixels: every reader's rows against its
// whole load, hostile headers, files that are no regular files, and the
// lowered pixel limit.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>
#include <tuple>

#include <zlib.h>

#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"
#include "imageio/FileFormats.h"
#include "imageio/Picture.h"
#include "imageio/PictureLimits.h"
#include "imageio/PictureRows.h"
#include "imageio/Streams.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"
#include "raster/Stretch.h"

namespace palvex::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

using PictureRoad = RegisteredFormats;

std::unique_ptr<TGraphic> KindFor(const std::string& extension)
{
    return CreateGraphicFor("x." + extension);
}

// The outcome of one road: its pixels, or the message of its failure.
struct TOutcome {
    TBitmap32 Pixels;
    std::string Error;
};

// The picture container's whole load, as the preview dialog takes a file.
void WholeLoad(const std::string& extension, const Bytes& bytes, TOutcome& result)
{
    try {
        TMemoryStream stream(bytes);
        TPicture picture;
        picture.SetGraphic(KindFor(extension));
        picture.Graphic()->LoadStream(stream);
        result.Pixels.AssignFrom(&picture);
    } catch (const Exception& e) {
        result.Error = e.what();
    }
}

// The rows, read through a ring of keep rows as the stretch reads them.
void RingRows(const std::string& extension, const Bytes& bytes, int32_t keep, TOutcome& result)
{
    try {
        TMemoryStream stream(bytes);
        auto kind = KindFor(extension);
        auto reader = kind->OpenRows(stream);
        reader->KeepRows(keep);
        result.Pixels.SetSize(reader->Width(), reader->Height());
        for (int32_t y = 0; y < reader->Height(); ++y)
            std::memcpy(result.Pixels.RowAddress(y), reader->Row(y), size_t(reader->Width()) * 4);
        reader->Finish();
    } catch (const Exception& e) {
        result.Error = e.what();
    }
}

// LoadPictureFile from a real file: read through the file's window, whole.
void FileLoad(const fs::path& path, TOutcome& result, TPictureLoadOptions options = kPixelsAsStored)
{
    try {
        LoadPictureFile(result.Pixels, path.string(), options);
    } catch (const Exception& e) {
        result.Error = e.what();
    }
}

// The samples that a load turns upright or converts to sRGB; every other one,
// sRGB profiles included, loads as stored.
const std::set<std::string> kTurnedOrConverted = {
    "jpeg/pillow__hopper_orientation_6.jpg", "tif/pillow__g4_orientation_6.tif",
    "jpeg/gen__jpeg_display_p3.jpg",         "jpeg/gen__jpeg_adobe_rgb.jpg",
    "tif/gen__tif_adobe_rgb.tif",            "png/gen__png_adobe_rgb.png",
    "psd/gen__psd_adobe_rgb.psd",            "jpeg/jpegdec__ycck.jpg",
};

// With opaqueOnly, pixels that a has as transparent are not compared.
bool SamePixels(const TBitmap32& a, const TBitmap32& b, bool opaqueOnly = false)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (size_t i = 0; i < a.PixelCount(); ++i)
        if (a.PixelData()[i] != b.PixelData()[i] && !(opaqueOnly && AlphaComponent(a.PixelData()[i]) == 0))
            return false;
    return true;
}

TEST_F(PictureRoad, RowsGiveTheWholeLoadsPixelsAndErrorsForEveryFormat)
{
    std::map<std::string, int> pictures;
    for (const auto& folder : fs::directory_iterator(DataDir())) {
        if (!folder.is_directory())
            continue;
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            const std::string ext = ExtractFileExt(entry.path().string());
            if (ext.empty() || !FileFormats().FindClassForExtension(ext.substr(1)))
                continue;
            const Bytes bytes = ReadFileBytes(entry.path());
            const std::string name = entry.path().filename().string();
            TOutcome whole, ring, file, upright;
            WholeLoad(ext.substr(1), bytes, whole);
            RingRows(ext.substr(1), bytes, 1 + int32_t(bytes.size() % 3), ring);
            FileLoad(entry.path(), file);
            FileLoad(entry.path(), upright, TPictureLoadOptions{});
            EXPECT_EQ(ring.Error, whole.Error) << name;
            EXPECT_EQ(file.Error, whole.Error) << name;
            EXPECT_EQ(upright.Error, whole.Error) << name;
            const std::string sample = folder.path().filename().string() + "/" + name;
            if (whole.Error.empty() && ext != ".cut") {
                EXPECT_EQ(!SamePixels(upright.Pixels, file.Pixels), kTurnedOrConverted.count(sample) == 1) << sample;
            }
            if (!whole.Error.empty())
                continue;
            // A metafile drawn onto the container's canvas leaves its undrawn
            // areas be; a companion palette is found beside a file only.
            const bool metafile = ext == ".wmf" || ext == ".emf";
            const bool companion = ext == ".cut" && fs::exists(fs::path(entry.path()).replace_extension(".pal"));
            EXPECT_TRUE(SamePixels(ring.Pixels, whole.Pixels, metafile)) << name;
            if (!companion) {
                EXPECT_TRUE(SamePixels(file.Pixels, whole.Pixels, metafile)) << name;
            }
            ++pictures[ext.substr(1)];
        }
    }
    // Every reader was seen giving pictures.
    for (const char* ext : {"bmp", "ico", "jpg", "gif", "png", "tif", "fax", "tga", "pcx", "sgi", "psd", "ppm"})
        EXPECT_GT(pictures[ext], 0) << ext;
}

// One small sample of each reader, to be damaged.
const std::pair<const char*, const char*> kSamples[] = {
    {"bmp", "bmp/bmpsuite_g_pal8rle.bmp"},   {"bmp", "bmp/bmpsuite_g_rgb24.bmp"},
    {"ico", "ico/gen__oiio.ico"},            {"jpg", "jpeg/gen__jpeg_progressive.jpg"},
    {"gif", "gif/gen__gif_interlaced.gif"},  {"png", "png/pngsuite_basi2c08.png"},
    {"tif", "tif/gen__tif_tiled_lzw.tif"},   {"fax", "fax/gen__pbmtog3.fax"},
    {"tga", "tga/gen__pamtotga_rgb_rle.tga"}, {"pcx", "pcx/gen__pcx_24bpp.pcx"},
    {"sgi", "sgi/gen__pnmtosgi_rle.sgi"},    {"psd", "psd/gen__psd_rgb8_rle.psd"},
    {"ppm", "pnm/gen__p6.ppm"},
};

// Header fields set to the values that break readers: 16 and 32 bits, both
// byte orders, at every offset of the first 40 bytes; and cuts.
std::vector<Bytes> FieldMutations(const Bytes& good)
{
    std::vector<Bytes> out;
    const uint32_t values[] = {0, 1, 0xFFFF, 0x7FFFFFFF, 0xFFFFFFFF, 0x80000000};
    for (size_t at = 0; at + 4 <= std::min<size_t>(good.size(), 40); at += 2) {
        for (uint32_t v : values) {
            for (int form = 0; form < 3; ++form) {
                Bytes b = good;
                if (form == 0) { // 16 bits, little-endian
                    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
                } else if (form == 1) { // 32 bits, big-endian
                    for (int i = 0; i < 4; ++i)
                        b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
                } else { // 32 bits, little-endian
                    for (int i = 0; i < 4; ++i)
                        b[at + size_t(i)] = uint8_t(v >> (8 * i));
                }
                out.push_back(std::move(b));
            }
        }
    }
    for (size_t cut : {size_t(0), size_t(1), size_t(7), size_t(20), good.size() / 3, good.size() / 2, good.size() - 1})
        out.emplace_back(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(std::min(cut, good.size())));
    return out;
}

TEST_F(PictureRoad, DamagedHeadersGiveAPictureOrTheFormatsError)
{
    // The mutations declare pictures of up to 2^32 pixels; a few bytes of run
    // length data can honestly fill them, which costs time, not memory.
    struct TLimit {
        TLimit() { SetMaxPicturePixels(uint64_t(1) << 22); }
        ~TLimit() { SetMaxPicturePixels(0); }
    } limit;
    for (const auto& [ext, file] : kSamples) {
        const Bytes good = ReadFileBytes(DataDir() / file);
        const std::vector<Bytes> mutations = FieldMutations(good);
        ASSERT_GE(mutations.size(), 150u) << file;
        int pictures = 0;
        for (const Bytes& bytes : mutations) {
            try {
                TMemoryStream stream(bytes);
                auto kind = KindFor(ext);
                auto reader = kind->OpenRows(stream);
                if (reader->Width() > 0) {
                    TBitmap32 reduced;
                    reduced.SetSize(7, 5);
                    StretchRows(reduced, *reader, sfLanczos);
                }
                reader->Finish();
                ++pictures;
            } catch (const Exception&) {
                // The format's own error: what a bad file must give.
            }
        }
        EXPECT_GT(pictures, 0) << file;
    }
}

// Pictures whose header declares more than the file can hold are refused
// when the header is read, before anything is allocated for the pixels.
TEST_F(PictureRoad, LyingHeadersAreRefusedBeforeThePixels)
{
    auto le16 = [](Bytes& b, size_t at, uint32_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); };
    auto le32 = [&](Bytes& b, size_t at, uint32_t v) { le16(b, at, v), le16(b, at + 2, v >> 16); };
    auto be16 = [](Bytes& b, size_t at, uint32_t v) { b[at] = uint8_t(v >> 8), b[at + 1] = uint8_t(v); };
    auto be32 = [&](Bytes& b, size_t at, uint32_t v) { be16(b, at, v >> 16), be16(b, at + 2, v); };
    struct TLie {
        const char* Ext;
        const char* File;
        std::function<void(Bytes&)> Lie;
        const char* Error;
    };
    const TLie lies[] = {
        {"bmp", "bmp/bmpsuite_g_rgb24.bmp", [&](Bytes& b) { le32(b, 18, 16384), le32(b, 22, 16384); },
         "Stream read error"},
        {"tga", "tga/gen__pamtotga_rgb_rle.tga", [&](Bytes& b) { le16(b, 12, 65535), le16(b, 14, 4096); },
         "Stream read error in Targa file."},
        {"pcx", "pcx/gen__pcx_24bpp.pcx", [&](Bytes& b) { le16(b, 8, 16383), le16(b, 10, 16383), le16(b, 66, 16384); },
         "Stream read error in PCX file."},
        {"sgi", "sgi/gen__pnmtosgi_rle.sgi", [&](Bytes& b) { be16(b, 6, 16384), be16(b, 8, 16384); },
         "Stream read error in SGI file."},
        {"psd", "psd/gen__psd_rgb8_rle.psd", [&](Bytes& b) { be32(b, 14, 16384), be32(b, 18, 16384); },
         "Stream read error in PSD file."},
        {"tif", "tif/gen__tif_lzw.tif", [&](Bytes& b) { b.resize(138); },
         "Stream read error in TIFF file."},
        {"png", "png/pngsuite_basi2c08.png",
         [&](Bytes& b) {
             be32(b, 16, 65535), be32(b, 20, 4096);
             be32(b, 29, uint32_t(crc32(0, b.data() + 12, 17)));
         },
         "Stream read error in PNG file."},
    };
    for (const TLie& lie : lies) {
        Bytes bytes = ReadFileBytes(DataDir() / lie.File);
        lie.Lie(bytes);
        TMemoryStream stream(bytes);
        auto kind = KindFor(lie.Ext);
        EXPECT_THROW_MSG(kind->OpenRows(stream), Exception, lie.Error);
    }
    // What the file holds counts as the file stores it: 1-bit rows of 4096
    // black pixels deflate 2000 to 1 against the 24-bit rows they become.
    Bytes rows(4096 * 513, 0);
    uLongf packedSize = compressBound(uLong(rows.size()));
    Bytes packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, rows.data(), uLong(rows.size()), 9), Z_OK);
    packed.resize(packedSize);
    ASSERT_LT(packed.size() * 1032, size_t(4096) * 4096 * 3);
    Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    auto chunk = [&](const char* type, const Bytes& body) {
        Bytes c(8);
        be32(c, 0, uint32_t(body.size()));
        std::memcpy(c.data() + 4, type, 4);
        c.insert(c.end(), body.begin(), body.end());
        c.resize(c.size() + 4);
        be32(c, c.size() - 4, uint32_t(crc32(0, c.data() + 4, uInt(4 + body.size()))));
        png.insert(png.end(), c.begin(), c.end());
    };
    Bytes header(13, 0);
    be32(header, 0, 4096), be32(header, 4, 4096), header[8] = 1;
    chunk("IHDR", header);
    chunk("IDAT", packed);
    chunk("IEND", {});
    TMemoryStream stream(png);
    auto kind = KindFor("png");
    auto reader = kind->OpenRows(stream);
    EXPECT_EQ(reader->Row(4095)[4095], 0xFF000000u);
}

// The bombs and lies of bench/bombs.sh, smaller: every bomb gives its picture
// on the batch run's road, every lie the format's error.
TEST_F(PictureRoad, BombsGiveTheirPicturesAndLiesTheirErrors)
{
    TempDir dir;
    const std::string command = "/usr/bin/python3 " + (fs::path(PALVEX_SOURCE_DIR) / "bench/make-bombs.py").string() +
                                " " + dir.Path().string() + " 1024 > " + (dir.Path() / "list").string();
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream list(dir.Path() / "list");
    std::string name;
    int32_t width = 0, height = 0;
    int files = 0;
    while (list >> name >> width >> height) {
        ++files;
        std::string error;
        int32_t gotWidth = 0, gotHeight = 0;
        try {
            TPictureRows rows((dir.Path() / name).string());
            gotWidth = rows.Width(), gotHeight = rows.Height();
            TBitmap32 reduced;
            reduced.SetSize(7, 5);
            StretchRows(reduced, rows, sfLanczos);
            rows.Finish();
        } catch (const Exception& e) {
            error = e.what();
        }
        if (name.starts_with("bomb-")) {
            EXPECT_EQ(error, "") << name;
            EXPECT_EQ(gotWidth, width) << name;
            EXPECT_EQ(gotHeight, height) << name;
        } else {
            EXPECT_NE(error, "") << name;
        }
    }
    EXPECT_GE(files, 18);
}

TEST_F(PictureRoad, FilesThatAreNoRegularFilesAreRefusedWithoutWaiting)
{
    TempDir dir;
    const fs::path fifo = dir.Path() / "fifo.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path folder = dir.Path() / "folder.png";
    fs::create_directory(folder);
    const fs::path device = dir.Path() / "zero.bmp";
    fs::create_symlink("/dev/zero", device);
    const fs::path socketPath = dir.Path() / "socket.gif";
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    for (const fs::path& path : {fifo, folder, device, socketPath}) {
        TBitmap32 bitmap;
        try {
            LoadPictureFile(bitmap, path.string());
            ADD_FAILURE() << path << " was read";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Cannot open file \"" + path.string() + "\". ", 0), 0u) << e.what();
        }
    }
    ::close(sock);
}

TEST_F(PictureRoad, ALoweredPixelLimitRefusesLargerPicturesAsInvalid)
{
    const fs::path path = DataDir() / "pcx/gen__pcx_24bpp.pcx";
    TBitmap32 bitmap;
    LoadPictureFile(bitmap, path.string());
    const uint64_t pixels = bitmap.PixelCount();
    SetMaxPicturePixels(pixels);
    TBitmap32 atLimit;
    EXPECT_NO_THROW(LoadPictureFile(atLimit, path.string()));
    SetMaxPicturePixels(pixels - 1);
    EXPECT_THROW_MSG(LoadPictureFile(atLimit, path.string()), EInvalidGraphic,
                     "Cannot load image. Invalid or unexpected PCX image format.");
    SetMaxPicturePixels(0);
    EXPECT_EQ(MaxPicturePixels(), kMaxPicturePixels);
}

// A TIFF structure (big-endian) whose first IFD holds only the orientation.
Bytes ExifBlock(uint8_t orientation)
{
    return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 1, 0x12, 0, 3, 0, 0, 0, 1, 0, orientation, 0, 0, 0, 0, 0, 0};
}

void PutU32BE(Bytes& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

Bytes WithPngChunk(Bytes png, size_t at, const char* type, const Bytes& body)
{
    Bytes chunk(8 + body.size() + 4);
    PutU32BE(chunk, 0, uint32_t(body.size()));
    std::memcpy(&chunk[4], type, 4);
    std::copy(body.begin(), body.end(), chunk.begin() + 8);
    PutU32BE(chunk, 8 + body.size(), uint32_t(crc32(0, &chunk[4], uInt(4 + body.size()))));
    png.insert(png.begin() + std::ptrdiff_t(at), chunk.begin(), chunk.end());
    return png;
}

// One more image resource, first in its section.
Bytes WithPsdResource(Bytes psd, uint16_t id, const Bytes& body)
{
    const size_t section = 26 + 4 + ((size_t(psd[26]) << 24) | (psd[27] << 16) | (psd[28] << 8) | psd[29]);
    Bytes resource = {'8', 'B', 'I', 'M', uint8_t(id >> 8), uint8_t(id), 0, 0, 0, 0, 0, 0};
    PutU32BE(resource, 8, uint32_t(body.size()));
    resource.insert(resource.end(), body.begin(), body.end());
    if (body.size() % 2)
        resource.push_back(0);
    const uint32_t length = (uint32_t(psd[section]) << 24) | (psd[section + 1] << 16) | (psd[section + 2] << 8) |
                            psd[section + 3];
    PutU32BE(psd, section, length + uint32_t(resource.size()));
    psd.insert(psd.begin() + std::ptrdiff_t(section + 4), resource.begin(), resource.end());
    return psd;
}

void Rows(const char* extension, const Bytes& bytes, TPictureLoadOptions options, TOutcome& result)
{
    try {
        TPictureRows rows(KindFor(extension), std::make_unique<TMemoryStream>(bytes), options);
        rows.ReadAll(result.Pixels);
    } catch (const Exception& e) {
        result.Error = e.what();
    }
}

// Turned a quarter clockwise, as orientation 6 asks.
void TurnClockwise(const TBitmap32& stored, TBitmap32& turned)
{
    turned.SetSize(stored.Height(), stored.Width());
    for (int32_t y = 0; y < turned.Height(); ++y)
        for (int32_t x = 0; x < turned.Width(); ++x)
            turned.SetPixel(x, y, stored.Pixel(y, stored.Height() - 1 - x));
}

TEST_F(PictureRoad, PngAndPsdPicturesAreTurnedByTheirOwnEXIFBlocks)
{
    const Bytes exif = ExifBlock(6);
    Bytes prefixed = {'E', 'x', 'i', 'f', 0, 0};
    prefixed.insert(prefixed.end(), exif.begin(), exif.end());
    const Bytes unknown = ExifBlock(9);
    const Bytes cut(exif.begin(), exif.begin() + 16);
    // Rows and interlaced (whole) PNG, raw and PackBits PSD.
    std::vector<std::tuple<std::string, Bytes, bool>> cases;
    for (const char* sample : {"png/gen__png_rgb48.png", "png/gen__png_interlaced.png"}) {
        const Bytes png = ReadFileBytes(DataDir() / sample);
        const size_t afterHeader = 8 + 12 + 13, beforeEnd = png.size() - 12;
        Bytes badCrc = WithPngChunk(png, afterHeader, "eXIf", exif);
        badCrc[afterHeader + 8 + exif.size()] ^= 1;
        const std::string name = sample;
        cases.emplace_back(name, WithPngChunk(png, afterHeader, "eXIf", exif), true);
        cases.emplace_back(name + " unknown", WithPngChunk(png, afterHeader, "eXIf", unknown), false);
        cases.emplace_back(name + " cut", WithPngChunk(png, afterHeader, "eXIf", cut), false);
        cases.emplace_back(name + " bad CRC", badCrc, false);
        // After the image data it comes too late to turn the rows.
        cases.emplace_back(name + " late", WithPngChunk(png, beforeEnd, "eXIf", exif), false);
    }
    for (const char* sample : {"psd/gen__psd_rgb8_raw.psd", "psd/gen__psd_rgb8_rle.psd"}) {
        const Bytes psd = ReadFileBytes(DataDir() / sample);
        const std::string name = sample;
        cases.emplace_back(name, WithPsdResource(psd, 1058, exif), true);
        cases.emplace_back(name + " 1059", WithPsdResource(psd, 1059, prefixed), true);
        cases.emplace_back(name + " unknown", WithPsdResource(psd, 1058, unknown), false);
        cases.emplace_back(name + " cut", WithPsdResource(psd, 1058, cut), false);
        cases.emplace_back(name + " other", WithPsdResource(psd, 1060, exif), false);
    }
    for (const auto& [name, bytes, turns] : cases) {
        SCOPED_TRACE(name);
        const char* extension = name.starts_with("png") ? "png" : "psd";
        TOutcome original, stored, loaded;
        Rows(extension, ReadFileBytes(DataDir() / name.substr(0, name.find(' '))), kPixelsAsStored, original);
        Rows(extension, bytes, kPixelsAsStored, stored);
        Rows(extension, bytes, {}, loaded);
        ASSERT_EQ(stored.Error, "");
        ASSERT_EQ(loaded.Error, "");
        EXPECT_TRUE(SamePixels(stored.Pixels, original.Pixels));
        TBitmap32 turned;
        TurnClockwise(stored.Pixels, turned);
        EXPECT_TRUE(SamePixels(loaded.Pixels, turns ? turned : stored.Pixels));
    }
}

} // namespace
} // namespace palvex::test
