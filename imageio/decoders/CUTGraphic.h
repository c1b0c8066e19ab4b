// TCUTGraphic: the Dr. Halo reader.
#pragma once

#include <string>

#include "imageio/decoders/DecoderGraphic.h"

namespace palvex {

// Dr. Halo run-length pictures of 8-bit indices. The colours come from the
// palette file of the same name with the extension .pal (any letter case)
// beside the picture; without a usable one the indices are a grey ramp.
class TCUTGraphic : public TDecoderGraphic {
    PALVEX_GRAPHIC_CLASS(TCUTGraphic)

public:
    const char* FormatName() const override { return "CUT"; }

    // Remembers where the picture lies, to find its palette.
    void LoadFile(const std::string& fileName) override;

protected:
    void Decode(std::span<const uint8_t> data) override;

private:
    std::string m_fileName;
};

} // namespace palvex
