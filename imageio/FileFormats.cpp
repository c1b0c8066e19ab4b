#include "imageio/FileFormats.h"

#include <algorithm>

#include "imageio/Bitmap.h"
#include "imageio/Icon.h"
#include "imageio/Metafile.h"
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
} // namespace

TFileFormatsList::TFileFormatsList()
{
    RegisterFormat("wmf", "Metafiles", TMetafile::StaticClass());
    RegisterFormat("emf", "Enhanced Metafiles", TMetafile::StaticClass());
    RegisterFormat("ico", "Icons", TIcon::StaticClass());
    RegisterFormat("bmp", "Bitmaps", TBitmap::StaticClass());
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
    static const std::vector<std::string> list{
        ".JPG", ".JPEG", ".GIF", ".TIF", ".ICO", ".BMP", ".EMF", ".WMF", ".PNG", ".PSP",
        ".CUT", ".PCD", ".PIC", ".CEL", ".PBM", ".PGM", ".PPM", ".PDD", ".PSD", ".BW",
        ".RGB", ".RGBA", ".SGI", ".RLA", ".RPF", ".SCR", ".PCC", ".PCX", ".EPS", ".FAX",
        ".TIFF", ".ICB", ".TGA", ".VDA", ".VST", ".WIN", ".DIB", ".RLE", ".JPE", ".JFIF",
    };
    return list;
}

bool IsAcceptedExtension(std::string_view extension)
{
    const std::string upper = UpperCase(extension);
    const auto& list = AcceptedExtensions();
    return std::find(list.begin(), list.end(), upper) != list.end();
}

} // namespace palvex
