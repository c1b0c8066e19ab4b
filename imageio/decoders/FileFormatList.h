// TFileFormatList: the decoder family's own list of extensions and classes. Its
// one effect on the rest of the system is to forward each registration to the
// picture registry.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "imageio/Graphic.h"

namespace palvex {

class TFileFormatList {
public:
    struct ClassEntry {
        const TGraphicClass* GraphicClass;
        std::string Description; // the common description
        int Count = 0;           // extension entries linked to it
    };
    struct ExtensionEntry {
        std::string Extension;
        std::string Description; // the individual description
        size_t ClassIndex;
    };

    // An empty extension does nothing; one already listed raises EInvalidGraphic
    // "Attempt to register %s twice.".
    void AddFormat(std::string_view extension, std::string_view commonDescription,
                   std::string_view individualDescription, const TGraphicClass& graphicClass);

    const std::vector<ClassEntry>& Classes() const { return m_classes; }
    const std::vector<ExtensionEntry>& Extensions() const { return m_extensions; }

private:
    std::vector<ClassEntry> m_classes;
    std::vector<ExtensionEntry> m_extensions;
};

// The family's list, filled by RegisterPictureFormats.
TFileFormatList& DecoderFormats();

// Fills the picture registry in its start-up order: the platform kinds (on
// creation), JPEG, the decoder family's 39 registrations, then GIF.
void RegisterPictureFormats();
// Undoes it in reverse: GIF, the family's classes, JPEG.
void UnregisterPictureFormats();

// For programs and tests: registers on construction, undoes on destruction.
struct TPictureFormatsScope {
    TPictureFormatsScope() { RegisterPictureFormats(); }
    ~TPictureFormatsScope() { UnregisterPictureFormats(); }
    TPictureFormatsScope(const TPictureFormatsScope&) = delete;
    TPictureFormatsScope& operator=(const TPictureFormatsScope&) = delete;
};

} // namespace palvex
