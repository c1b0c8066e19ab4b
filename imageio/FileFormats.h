// The picture registry: extension to picture kind, in registration order, and
// the accepted-extension test that the folder listing applies.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "imageio/Graphic.h"

namespace palvex {

struct TFileFormatEntry {
    std::string Extension; // without the dot, lower case
    const TGraphicClass* GraphicClass;
    std::string Description;
};

class TFileFormatsList {
public:
    // Created with the four platform entries: wmf, emf, ico, bmp.
    TFileFormatsList();

    void RegisterFormat(std::string_view extension, std::string_view description, const TGraphicClass& graphicClass);
    // The last registration of an extension wins; null when none matches.
    const TGraphicClass* FindClassForExtension(std::string_view extension) const;
    // Every entry whose class is graphicClass or derives from it.
    void RemoveFormatsOf(const TGraphicClass& graphicClass);
    // The filter text of the picture-open dialog.
    std::string BuildOpenFilter(const TGraphicClass& baseClass) const;

    const std::vector<TFileFormatEntry>& Entries() const { return m_entries; }

private:
    std::vector<TFileFormatEntry> m_entries;
};

// The one registry of the process, created on first use.
TFileFormatsList& FileFormats();

// The extension as the platform extracts it: from the last "." after the last
// path delimiter to the end, dot included; empty when there is none.
std::string ExtractFileExt(std::string_view fileName);

// The 40 accepted extensions, upper case with their dot, in their fixed order.
const std::vector<std::string>& AcceptedExtensions();
// extension as ExtractFileExt gives it; compared after the framework's upper-casing.
bool IsAcceptedExtension(std::string_view extension);

// The JPEG registrations ("jpeg", "jpg"), which also fill the JPEG defaults.
void RegisterJPEGFormats();
void UnregisterJPEGFormats();

} // namespace palvex
