// Text of metafiles: fonts found by fontconfig under the recorded face name
// (with its substitutes for the Windows faces), glyphs rendered by FreeType
// and laid along the recorded baseline with the recorded alignment.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "imageio/MetafileCanvas.h"

namespace palvex {

struct TMetafileFont;

struct TTextRun {
    const std::u32string* Text = nullptr;
    TPointD Origin;                              // logical
    const std::vector<double>* Advances = nullptr; // logical, may be empty
    TAffine ToDevice;
    const TMetafileFont* Font = nullptr;
    uint32_t Align = 0;
    TColor32 Color = 0xFF000000;
    bool OpaqueBack = false;
    TColor32 BackColor = 0xFFFFFFFF;
    double CharExtra = 0;
};

// Characters of a byte string in the font's character set (Windows code
// pages 1250, 1251 or 1252; the symbol set as the Symbol font's letters).
std::u32string DecodeCharset(const uint8_t* bytes, size_t count, int charSet);

std::string Utf8(const std::u32string& text);

class TMetafileFonts {
public:
    TMetafileFonts();
    ~TMetafileFonts();
    TMetafileFonts(const TMetafileFonts&) = delete;
    TMetafileFonts& operator=(const TMetafileFonts&) = delete;

    // Draws the run; next is the logical point after it. False when no font
    // could be had (the text is then left out).
    bool Draw(TMetafileCanvas& canvas, const TTextRun& run, TPointD& next);

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace palvex
