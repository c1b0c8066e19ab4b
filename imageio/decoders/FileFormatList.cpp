#include "imageio/decoders/FileFormatList.h"

#include "imageio/Bitmap.h"
#include "imageio/FileFormats.h"
#include "imageio/Icon.h"
#include "imageio/JPEGImage.h"
#include "imageio/Metafile.h"
#include "imageio/decoders/AutodeskGraphic.h"
#include "imageio/decoders/CUTGraphic.h"
#include "imageio/decoders/EPSGraphic.h"
#include "imageio/decoders/GIFImage.h"
#include "imageio/decoders/PCDGraphic.h"
#include "imageio/decoders/PCXGraphic.h"
#include "imageio/decoders/PNGGraphic.h"
#include "imageio/decoders/PPMGraphic.h"
#include "imageio/decoders/PSDGraphic.h"
#include "imageio/decoders/PSPGraphic.h"
#include "imageio/decoders/RLAGraphic.h"
#include "imageio/decoders/SGIGraphic.h"
#include "imageio/decoders/TIFFGraphic.h"
#include "imageio/decoders/TargaGraphic.h"
#include "platform/Errors.h"

namespace palvex {

void TFileFormatList::AddFormat(std::string_view extension, std::string_view commonDescription,
                                std::string_view individualDescription, const TGraphicClass& graphicClass)
{
    if (extension.empty())
        return;
    for (const auto& e : m_extensions)
        if (e.Extension == extension)
            throw EInvalidGraphic(Format("Attempt to register %.*s twice.", int(extension.size()), extension.data()));

    size_t classIndex = m_classes.size();
    for (size_t i = 0; i < m_classes.size(); ++i)
        if (m_classes[i].GraphicClass == &graphicClass)
            classIndex = i;
    if (classIndex == m_classes.size())
        m_classes.push_back(ClassEntry{&graphicClass, std::string(), 0});
    ClassEntry& cls = m_classes[classIndex];
    if (!commonDescription.empty())
        cls.Description = std::string(commonDescription);
    ++cls.Count;
    m_extensions.push_back(ExtensionEntry{std::string(extension), std::string(individualDescription), classIndex});

    FileFormats().RegisterFormat(extension, individualDescription.empty() ? std::string_view(cls.Description)
                                                                          : individualDescription,
                                 graphicClass);
}

TFileFormatList& DecoderFormats()
{
    static TFileFormatList list;
    return list;
}

namespace {
struct Registration {
    const char* extension;
    const char* common;
    const char* individual;
    const TGraphicClass& (*graphicClass)();
};

// The family's registrations, in their fixed order.
const Registration kRegistrations[] = {
    {"bmp", "Windows bitmaps", "", &TBitmap::StaticClass},
    {"ico", "Windows icons", "", &TIcon::StaticClass},
    {"wmf", "Windows metafiles", "", &TMetafile::StaticClass},
    {"emf", "Windows metafiles", "Windows enhanced meta files", &TMetafile::StaticClass},
    {"jfif", "JPG images", "JFIF images", &TJPEGImage::StaticClass},
    {"jpg", "", "JPG images", &TJPEGImage::StaticClass},
    {"jpe", "", "JPE images", &TJPEGImage::StaticClass},
    {"jpeg", "", "JPEG images", &TJPEGImage::StaticClass},
    {"rle", "Windows bitmaps", "Run length encoded Windows bitmaps", &TBitmap::StaticClass},
    {"dib", "", "Device independant Windows bitmaps", &TBitmap::StaticClass},
    {"win", "Truevision images", "", &TTargaGraphic::StaticClass},
    {"vst", "", "", &TTargaGraphic::StaticClass},
    {"vda", "", "", &TTargaGraphic::StaticClass},
    {"tga", "", "", &TTargaGraphic::StaticClass},
    {"icb", "", "", &TTargaGraphic::StaticClass},
    {"tiff", "Tagged image file format images", "Macintosh TIFF images", &TTIFFGraphic::StaticClass},
    {"tif", "", "PC TIF images", &TTIFFGraphic::StaticClass},
    {"fax", "", "GFI fax images", &TTIFFGraphic::StaticClass},
    {"eps", "Encapsulated Postscript images", "", &TEPSGraphic::StaticClass},
    {"pcx", "ZSoft Paintbrush images", "", &TPCXGraphic::StaticClass},
    {"pcc", "", "", &TPCXGraphic::StaticClass},
    {"scr", "", "Word 5.x screen capture images", &TPCXGraphic::StaticClass},
    {"rpf", "Alias/Wavefront images", "", &TRLAGraphic::StaticClass},
    {"rla", "", "", &TRLAGraphic::StaticClass},
    {"sgi", "SGI images", "SGI true color images", &TSGIGraphic::StaticClass},
    {"rgba", "", "SGI true color images with alpha", &TSGIGraphic::StaticClass},
    {"rgb", "", "SGI true color images", &TSGIGraphic::StaticClass},
    {"bw", "", "SGI black/white images", &TSGIGraphic::StaticClass},
    {"psd", "Photoshop images", "", &TPSDGraphic::StaticClass},
    {"pdd", "", "", &TPSDGraphic::StaticClass},
    {"ppm", "Portable map images", "Portable pixel map images", &TPPMGraphic::StaticClass},
    {"pgm", "", "Portable gray map images", &TPPMGraphic::StaticClass},
    {"pbm", "", "Portable bitmap images", &TPPMGraphic::StaticClass},
    {"cel", "Autodesk images", "", &TAutodeskGraphic::StaticClass},
    {"pic", "Autodesk images", "", &TAutodeskGraphic::StaticClass},
    {"pcd", "Kodak Photo-CD images", "", &TPCDGraphic::StaticClass},
    {"cut", "Dr. Halo images", "", &TCUTGraphic::StaticClass},
    {"psp", "Paintshop Pro images", "", &TPSPGraphic::StaticClass},
    {"png", "Portable network graphic images", "", &TPNGGraphic::StaticClass},
};
} // namespace

void RegisterPictureFormats()
{
    FileFormats(); // its creation entries come first
    RegisterJPEGFormats();
    for (const auto& r : kRegistrations)
        DecoderFormats().AddFormat(r.extension, r.common, r.individual, r.graphicClass());
    FileFormats().RegisterFormat("GIF", "GIF Image", TGIFImage::StaticClass());
}

void UnregisterPictureFormats()
{
    FileFormats().RemoveFormatsOf(TGIFImage::StaticClass());
    for (const auto& cls : DecoderFormats().Classes())
        FileFormats().RemoveFormatsOf(*cls.GraphicClass);
    DecoderFormats() = TFileFormatList();
    UnregisterJPEGFormats();
    // The registry is freed at exit; a fresh one stands in for the next first use.
    FileFormats() = TFileFormatsList();
}

} // namespace palvex
