// The picture registry: extension to picture kind, in registration order, and
// the accepted-extension test that the folder listing applies.
#pragma once

#include <cstdint>
#include <span>
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

// Reads a picture held whole inside another file (a PNG icon image, a JPEG or
// PNG in a metafile record) with the kind registered for extension, which may
// live in a higher layer: its rows as stored, straight into the pixels
// returned (width by height, top-down). Empty when no kind is registered or
// the picture has none; a damaged picture raises the kind's error.
std::vector<TColor32> LoadEmbeddedPicture(std::span<const uint8_t> bytes, std::string_view extension,
                                          int32_t& width, int32_t& height);

// One registration of the start-up.
struct TStartUpRegistration {
    enum TStage : uint8_t {
        Creation, // the registry's own entries, when it is created
        JPEG,     // RegisterJPEGFormats
        Family,   // the decoder family's list (TFileFormatList::AddFormat)
        GIF,      // GIF's, last
    };
    TStage Stage;
    const char* Extension;
    const char* CommonDescription; // the family's common description, or ""
    const char* Description;       // the registry's description: for the family, the individual one or ""
    const char* Kind;              // the picture kind's class name
    uint8_t Lead;                  // 1 to 8: where the accepted list starts with this extension; else 0
};

// Every registration of the start-up, in the order they run: the one list of
// the readable extensions. The registry's creation, RegisterJPEGFormats and
// RegisterPictureFormats take their entries from it, and the accepted
// extensions come from it.
std::span<const TStartUpRegistration> StartUpRegistrations();

// The extension as the platform extracts it: from the last "." after the last
// path delimiter to the end, dot included; empty when there is none.
std::string ExtractFileExt(std::string_view fileName);

// The 40 accepted extensions, upper case with their dot, in their fixed order:
// the eight leads, then every other start-up registration from the last to
// the first, each extension once.
const std::vector<std::string>& AcceptedExtensions();
// extension as ExtractFileExt gives it; compared after the framework's upper-casing.
bool IsAcceptedExtension(std::string_view extension);

// The JPEG registrations ("jpeg", "jpg"), which also fill the JPEG defaults.
void RegisterJPEGFormats();
void UnregisterJPEGFormats();

} // namespace palvex
