#include "imageio/FileFormats.h"

#include <algorithm>
#include <set>

#include "imageio/Bitmap.h"
#include "imageio/Icon.h"
#include "imageio/Metafile.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "platform/Errors.h"
#include "platform/UpperCase.h"

namespace palvex {

namespace {
std::string LowerAscii(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}


using R = TStartUpRegistration;

const TStartUpRegistration kStartUp[] = {
    {R::Creation, "wmf", "", "Metafiles", "TMetafile", 8},
    {R::Creation, "emf", "", "Enhanced Metafiles", "TMetafile", 7},
    {R::Creation, "ico", "", "Icons", "TIcon", 5},
    {R::Creation, "bmp", "", "Bitmaps", "TBitmap", 6},
    {R::JPEG, "jpeg", "", "JPEG Image File", "TJPEGImage", 2},
    {R::JPEG, "jpg", "", "JPEG Image File", "TJPEGImage", 1},
    {R::Family, "bmp", "Windows bitmaps", "", "TBitmap", 0},
    {R::Family, "ico", "Windows icons", "", "TIcon", 0},
    {R::Family, "wmf", "Windows metafiles", "", "TMetafile", 0},
    {R::Family, "emf", "Windows metafiles", "Windows enhanced meta files", "TMetafile", 0},
    {R::Family, "jfif", "JPG images", "JFIF images", "TJPEGImage", 0},
    {R::Family, "jpg", "", "JPG images", "TJPEGImage", 0},
    {R::Family, "jpe", "", "JPE images", "TJPEGImage", 0},
    {R::Family, "jpeg", "", "JPEG images", "TJPEGImage", 0},
    {R::Family, "rle", "Windows bitmaps", "Run length encoded Windows bitmaps", "TBitmap", 0},
    {R::Family, "dib", "", "Device independant Windows bitmaps", "TBitmap", 0},
    {R::Family, "win", "Truevision images", "", "TTargaGraphic", 0},
    {R::Family, "vst", "", "", "TTargaGraphic", 0},
    {R::Family, "vda", "", "", "TTargaGraphic", 0},
    {R::Family, "tga", "", "", "TTargaGraphic", 0},
    {R::Family, "icb", "", "", "TTargaGraphic", 0},
    {R::Family, "tiff", "Tagged image file format images", "Macintosh TIFF images", "TTIFFGraphic", 0},
    {R::Family, "tif", "", "PC TIF images", "TTIFFGraphic", 4},
    {R::Family, "fax", "", "GFI fax images", "TTIFFGraphic", 0},
    {R::Family, "eps", "Encapsulated Postscript images", "", "TEPSGraphic", 0},
    {R::Family, "pcx", "ZSoft Paintbrush images", "", "TPCXGraphic", 0},
    {R::Family, "pcc", "", "", "TPCXGraphic", 0},
    {R::Family, "scr", "", "Word 5.x screen capture images", "TPCXGraphic", 0},
    {R::Family, "rpf", "Alias/Wavefront images", "", "TRLAGraphic", 0},
    {R::Family, "rla", "", "", "TRLAGraphic", 0},
    {R::Family, "sgi", "SGI images", "SGI true color images", "TSGIGraphic", 0},
    {R::Family, "rgba", "", "SGI true color images with alpha", "TSGIGraphic", 0},
    {R::Family, "rgb", "", "SGI true color images", "TSGIGraphic", 0},
    {R::Family, "bw", "", "SGI black/white images", "TSGIGraphic", 0},
    {R::Family, "psd", "Photoshop images", "", "TPSDGraphic", 0},
    {R::Family, "pdd", "", "", "TPSDGraphic", 0},
    {R::Family, "ppm", "Portable map images", "Portable pixel map images", "TPPMGraphic", 0},
    {R::Family, "pgm", "", "Portable gray map images", "TPPMGraphic", 0},
    {R::Family, "pbm", "", "Portable bitmap images", "TPPMGraphic", 0},
    {R::Family, "cel", "Autodesk images", "", "TAutodeskGraphic", 0},
    {R::Family, "pic", "Autodesk images", "", "TAutodeskGraphic", 0},
    {R::Family, "pcd", "Kodak Photo-CD images", "", "TPCDGraphic", 0},
    {R::Family, "cut", "Dr. Halo images", "", "TCUTGraphic", 0},
    {R::Family, "psp", "Paintshop Pro images", "", "TPSPGraphic", 0},
    {R::Family, "png", "Portable network graphic images", "", "TPNGGraphic", 0},
    {R::GIF, "GIF", "", "GIF Image", "TGIFImage", 3},
};

// The kinds the registry holds when it is created, by class name.
const TGraphicClass& OwnKind(const char* name)
{
    for (const TGraphicClass* cls : {&TMetafile::StaticClass(), &TIcon::StaticClass(), &TBitmap::StaticClass()})
        if (std::string_view(cls->Name) == name)
            return *cls;
    throw std::logic_error(std::string("no picture kind ") + name + " at the registry's creation");
}

} // namespace

std::span<const TStartUpRegistration> StartUpRegistrations()
{
    return kStartUp;
}

TFileFormatsList::TFileFormatsList()
{
    for (const TStartUpRegistration& r : kStartUp)
        if (r.Stage == TStartUpRegistration::Creation)
            RegisterFormat(r.Extension, r.Description, OwnKind(r.Kind));
}


void TFileFormatsList::RegisterFormat(std::string_view extension, std::string_view description,
                                      const TGraphicClass& graphicClass)
{
    m_entries.push_back(TFileFormatEntry{LowerAscii(extension), &graphicClass, std::string(description)});
}

const TGraphicClass* TFileFormatsList::FindClassForExtension(std::string_view extension) const
{
    const std::string wanted = LowerAscii(extension);
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (it->Extension == wanted)
            return it->GraphicClass;
    return nullptr;
}

std::vector<TColor32> LoadEmbeddedPicture(std::span<const uint8_t> bytes, std::string_view extension,
                                          int32_t& width, int32_t& height)
{
    width = height = 0;
    const TGraphicClass* cls = FileFormats().FindClassForExtension(extension);
    if (!cls || !cls->Create)
        return {};
    TByteSpanStream stream(bytes.data(), bytes.size());
    // The kind outlives its reader, as it does on the batch run's road.
    const std::unique_ptr<TGraphic> kind = cls->Create();
    const std::unique_ptr<TPictureReader> reader = kind->OpenRows(stream);
    const size_t w = size_t(reader->Width());
    std::vector<TColor32> pixels(w * size_t(reader->Height()));
    reader->KeepRows(1);
    for (int32_t y = 0; y < reader->Height(); ++y)
        std::copy_n(reader->Row(y), w, pixels.data() + size_t(y) * w);
    reader->Finish();
    width = reader->Width();
    height = reader->Height();
    return pixels;
}

void TFileFormatsList::RemoveFormatsOf(const TGraphicClass& graphicClass)
{
    std::erase_if(m_entries, [&](const TFileFormatEntry& e) { return e.GraphicClass->InheritsFrom(graphicClass); });
}

std::string TFileFormatsList::BuildOpenFilter(const TGraphicClass& baseClass) const
{
    std::string descriptions;
    std::string masks;
    int count = 0;
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it) {
        if (!it->GraphicClass->InheritsFrom(baseClass) || it->Extension.empty())
            continue;
        if (count > 0) {
            descriptions += "|";
            masks += ";";
        }
        descriptions += it->Description + " (*." + it->Extension + ")|*." + it->Extension;
        masks += "*." + it->Extension;
        ++count;
    }
    if (count > 1)
        return "All (" + masks + ")|" + masks + "|" + descriptions;
    return descriptions;
}

TFileFormatsList& FileFormats()
{
    static TFileFormatsList list;
    return list;
}

std::string ExtractFileExt(std::string_view fileName)
{
    const size_t pos = fileName.find_last_of(".\\/:");
    if (pos == std::string_view::npos || fileName[pos] != '.')
        return std::string();
    return std::string(fileName.substr(pos));
}

const std::vector<std::string>& AcceptedExtensions()
{
    static const std::vector<std::string> list = [] {
        std::vector<const TStartUpRegistration*> order;
        for (uint8_t lead = 1; lead <= 8; ++lead)
            for (const TStartUpRegistration& r : kStartUp)
                if (r.Lead == lead)
                    order.push_back(&r);
        for (auto it = std::rbegin(kStartUp); it != std::rend(kStartUp); ++it)
            order.push_back(&*it);
        std::vector<std::string> out;
        std::set<std::string> seen;
        for (const TStartUpRegistration* r : order)
            if (seen.insert(LowerAscii(r->Extension)).second) {
                // Appended, not "." + name: GCC 12 at -O3 warns (-Wrestrict) on that.
                std::string dotted(1, '.');
                dotted += UpperCase(r->Extension);
                out.push_back(std::move(dotted));
            }
        return out;
    }();
    return list;
}

bool IsAcceptedExtension(std::string_view extension)
{
    const std::string upper = UpperCase(extension);
    const auto& list = AcceptedExtensions();
    return std::find(list.begin(), list.end(), upper) != list.end();
}

} // namespace palvex
