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

// The picture kinds that the decoder family and GIF register, by class name.
const TGraphicClass& Kind(const char* name)
{
    for (const TGraphicClass* cls :
         {&TBitmap::StaticClass(), &TIcon::StaticClass(), &TMetafile::StaticClass(), &TJPEGImage::StaticClass(),
          &TTargaGraphic::StaticClass(), &TTIFFGraphic::StaticClass(), &TEPSGraphic::StaticClass(),
          &TPCXGraphic::StaticClass(), &TRLAGraphic::StaticClass(), &TSGIGraphic::StaticClass(),
          &TPSDGraphic::StaticClass(), &TPPMGraphic::StaticClass(), &TAutodeskGraphic::StaticClass(),
          &TPCDGraphic::StaticClass(), &TCUTGraphic::StaticClass(), &TPSPGraphic::StaticClass(),
          &TPNGGraphic::StaticClass(), &TGIFImage::StaticClass()})
        if (std::string_view(cls->Name) == name)
            return *cls;
    throw std::logic_error(std::string("no picture kind ") + name);
}

} // namespace

void RegisterPictureFormats()
{
    FileFormats(); // its creation entries come first
    RegisterJPEGFormats();
    for (const TStartUpRegistration& r : StartUpRegistrations())
        if (r.Stage == TStartUpRegistration::Family)
            DecoderFormats().AddFormat(r.Extension, r.CommonDescription, r.Description, Kind(r.Kind));
    for (const TStartUpRegistration& r : StartUpRegistrations())
        if (r.Stage == TStartUpRegistration::GIF)
            FileFormats().RegisterFormat(r.Extension, r.Description, Kind(r.Kind));
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
