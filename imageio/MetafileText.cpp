#include "imageio/MetafileText.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <mutex>
#include <numbers>
#include <tuple>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_ADVANCES_H

#include "imageio/MetafileCodePages.h"
#include "imageio/MetafilePlayer.h"

namespace palvex {

namespace {

// Greek letters and the few mathematical signs of the Symbol font's lower half.
char32_t SymbolCharacter(uint8_t c)
{
    static constexpr char16_t kUpper[26] = {0x391, 0x392, 0x3A7, 0x394, 0x395, 0x3A6, 0x393, 0x397, 0x399,
                                            0x3D1, 0x39A, 0x39B, 0x39C, 0x39D, 0x39F, 0x3A0, 0x398, 0x3A1,
                                            0x3A3, 0x3A4, 0x3A5, 0x3C2, 0x3A9, 0x39E, 0x3A8, 0x396};
    static constexpr char16_t kLower[26] = {0x3B1, 0x3B2, 0x3C7, 0x3B4, 0x3B5, 0x3C6, 0x3B3, 0x3B7, 0x3B9,
                                            0x3D5, 0x3BA, 0x3BB, 0x3BC, 0x3BD, 0x3BF, 0x3C0, 0x3B8, 0x3C1,
                                            0x3C3, 0x3C4, 0x3C5, 0x3D6, 0x3C9, 0x3BE, 0x3C8, 0x3B6};
    if (c >= 'A' && c <= 'Z')
        return kUpper[c - 'A'];
    if (c >= 'a' && c <= 'z')
        return kLower[c - 'a'];
    switch (c) {
    case 0x22: return 0x2200;
    case 0x24: return 0x2203;
    case 0x27: return 0x220B;
    case 0x2A: return 0x2217;
    case 0x2D: return 0x2212;
    case 0x40: return 0x2245;
    case 0x5C: return 0x2234;
    case 0x5E: return 0x22A5;
    case 0x7E: return 0x223C;
    default: return c;
    }
}

struct FontKey {
    std::string Face;
    bool Bold;
    bool Italic;
    bool operator<(const FontKey& o) const { return std::tie(Face, Bold, Italic) < std::tie(o.Face, o.Bold, o.Italic); }
};

struct FontFile {
    std::string Path;
    int Index = 0;
    bool Bold = false;   // the file's own weight
    bool Italic = false; // the file's own slant
};

FcConfig* g_fontConfig = nullptr;

// fontconfig keeps state of its own beside the configuration; both are given
// back at exit so that nothing of the process is left allocated.
void ReleaseFontConfig()
{
    FcConfigDestroy(g_fontConfig);
    g_fontConfig = nullptr;
    FcFini();
}

// fontconfig's answer for a face, asked once per process.
FontFile FindFontFile(const FontKey& key)
{
    static std::mutex mutex;
    static std::map<FontKey, FontFile> found;
    const std::lock_guard<std::mutex> lock(mutex);
    if (const auto it = found.find(key); it != found.end())
        return it->second;
    if (!g_fontConfig) {
        g_fontConfig = FcInitLoadConfigAndFonts();
        if (g_fontConfig)
            std::atexit(ReleaseFontConfig);
    }
    FcConfig* config = g_fontConfig;
    FontFile result;
    if (config) {
        FcPattern* pattern = FcPatternCreate();
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(key.Face.c_str()));
        FcPatternAddInteger(pattern, FC_WEIGHT, key.Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, key.Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult res;
        if (FcPattern* match = FcFontMatch(config, pattern, &res)) {
            FcChar8* file = nullptr;
            int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
            if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
                result.Path = reinterpret_cast<const char*>(file);
            FcPatternGetInteger(match, FC_INDEX, 0, &result.Index);
            FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
            FcPatternGetInteger(match, FC_SLANT, 0, &slant);
            result.Bold = weight >= FC_WEIGHT_DEMIBOLD;
            result.Italic = slant != FC_SLANT_ROMAN;
            FcPatternDestroy(match);
        }
        FcPatternDestroy(pattern);
    }
    found.emplace(key, result);
    return result;
}

} // namespace

std::string Utf8(const std::u32string& text)
{
    std::string out;
    for (char32_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::u32string DecodeCharset(const uint8_t* bytes, size_t count, int charSet)
{
    std::u32string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = bytes[i];
        if (charSet == 2)
            out.push_back(SymbolCharacter(c));
        else if (c < 0x80)
            out.push_back(c);
        else if (const char32_t u = UpperHalfCharacter(c, charSet))
            out.push_back(u);
        else
            out.push_back(U'?');
    }
    return out;
}

struct TMetafileFonts::Impl {
    FT_Library Library = nullptr;
    std::map<std::pair<std::string, int>, FT_Face> Faces;

    ~Impl()
    {
        for (auto& f : Faces)
            if (f.second)
                FT_Done_Face(f.second);
        if (Library)
            FT_Done_FreeType(Library);
    }

    FT_Face Face(const FontFile& file)
    {
        if (file.Path.empty())
            return nullptr;
        if (!Library && FT_Init_FreeType(&Library) != 0)
            return nullptr;
        const auto key = std::make_pair(file.Path, file.Index);
        if (const auto it = Faces.find(key); it != Faces.end())
            return it->second;
        FT_Face face = nullptr;
        if (FT_New_Face(Library, file.Path.c_str(), file.Index, &face) != 0 || !FT_IS_SCALABLE(face)) {
            if (face)
                FT_Done_Face(face);
            face = nullptr;
        }
        Faces.emplace(key, face);
        return face;
    }
};

TMetafileFonts::TMetafileFonts() : m_impl(std::make_unique<Impl>()) {}

TMetafileFonts::~TMetafileFonts() = default;

bool TMetafileFonts::Draw(TMetafileCanvas& canvas, const TTextRun& run, TPointD& next)
{
    const TMetafileFont& font = *run.Font;
    const bool bold = font.Weight >= 600;
    const FontFile file = FindFontFile({font.Face.empty() ? std::string("Arial") : font.Face, bold, font.Italic});
    FT_Face face = m_impl->Face(file);
    if (!face)
        return false;
    const TAffine& m = run.ToDevice;
    const double vScale = std::hypot(m.M21, m.M22), hScale = std::hypot(m.M11, m.M12);
    const double faceHeight = double(face->ascender) - double(face->descender);
    double em = 0;
    if (font.Height < 0)
        em = -font.Height * vScale;
    else if (font.Height > 0)
        em = faceHeight > 0 ? font.Height * vScale * face->units_per_EM / faceHeight : font.Height * vScale;
    else
        em = 12 * vScale;
    // Glyphs larger than twice the picture show nothing more.
    const double largest = 2.0 * std::max(canvas.Width(), canvas.Height());
    if (!std::isfinite(em) || em < 1 || em > largest || em > 4096)
        return true;
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(em * 64), 72, 72) != 0)
        return false;

    const double phi = font.Escapement * std::numbers::pi / 1800 + std::atan2(-m.M12, m.M11);
    const TPointD dir{std::cos(phi), -std::sin(phi)};
    const TPointD up{-std::sin(phi), -std::cos(phi)};
    const double ascent = face->size->metrics.ascender / 64.0;
    const double descent = -face->size->metrics.descender / 64.0;

    const std::u32string& text = *run.Text;
    std::vector<FT_UInt> glyphs(text.size());
    std::vector<double> advances(text.size());
    double total = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        glyphs[i] = FT_Get_Char_Index(face, text[i]);
        if (run.Advances && i < run.Advances->size()) {
            advances[i] = (*run.Advances)[i] * hScale;
        } else {
            FT_Fixed advance = 0;
            FT_Get_Advance(face, glyphs[i], FT_LOAD_NO_HINTING, &advance);
            advances[i] = advance / 65536.0 + run.CharExtra * hScale;
        }
        if (!std::isfinite(advances[i]))
            advances[i] = 0;
        total += advances[i];
    }

    TPointD start = m.Map(run.Origin);
    const uint32_t horizontal = run.Align & 6, vertical = run.Align & 24;
    TPointD o = start;
    const double shift = horizontal == 2 ? -total : horizontal == 6 ? -total / 2 : 0;
    o = {o.X + dir.X * shift, o.Y + dir.Y * shift};
    const double rise = vertical == 0 ? -ascent : vertical == 8 ? descent : 0;
    o = {o.X + up.X * rise, o.Y + up.Y * rise};
    if (!std::isfinite(o.X) || !std::isfinite(o.Y))
        return true;

    auto band = [&](double from, double to, double low, double high) {
        const TPointD a{o.X + dir.X * from, o.Y + dir.Y * from}, b{o.X + dir.X * to, o.Y + dir.Y * to};
        return TPolygonD{{a.X + up.X * high, a.Y + up.Y * high},
                         {b.X + up.X * high, b.Y + up.Y * high},
                         {b.X + up.X * low, b.Y + up.Y * low},
                         {a.X + up.X * low, a.Y + up.Y * low}};
    };
    if (run.OpaqueBack) {
        TPaint back;
        back.Color = run.BackColor;
        canvas.FillPolygons({band(0, total, -descent, ascent)}, false, back);
    }

    FT_Matrix matrix;
    matrix.xx = static_cast<FT_Fixed>(std::cos(phi) * 65536);
    matrix.xy = static_cast<FT_Fixed>(-std::sin(phi) * 65536);
    matrix.yx = static_cast<FT_Fixed>(std::sin(phi) * 65536);
    matrix.yy = static_cast<FT_Fixed>(std::cos(phi) * 65536);
    const double reach = em + canvas.Width() + canvas.Height();
    double s = 0;
    for (size_t i = 0; i < text.size(); s += advances[i], ++i) {
        const TPointD p{o.X + dir.X * s, o.Y + dir.Y * s};
        canvas.Spend(64); // a glyph's loading, whatever it covers
        if (p.X < -reach || p.Y < -reach || p.X > reach || p.Y > reach)
            continue;
        const double ix = std::floor(p.X), iy = std::floor(p.Y);
        FT_Vector delta{static_cast<FT_Pos>((p.X - ix) * 64), static_cast<FT_Pos>(-(p.Y - iy) * 64)};
        FT_Set_Transform(face, &matrix, &delta);
        if (FT_Load_Glyph(face, glyphs[i], FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0)
            continue;
        if (bold && !file.Bold)
            FT_GlyphSlot_Embolden(face->glyph);
        if (font.Italic && !file.Italic)
            FT_GlyphSlot_Oblique(face->glyph);
        if (FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
            continue;
        const FT_Bitmap& bm = face->glyph->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_GRAY || !bm.buffer)
            continue;
        canvas.BlendCoverage(static_cast<int32_t>(ix) + face->glyph->bitmap_left,
                             static_cast<int32_t>(iy) - face->glyph->bitmap_top, bm.buffer,
                             static_cast<int32_t>(bm.width), static_cast<int32_t>(bm.rows), bm.pitch, run.Color);
    }
    FT_Set_Transform(face, nullptr, nullptr);

    TPaint ink;
    ink.Color = run.Color;
    const double thickness = std::max(1.0, em / 14);
    if (font.Underline)
        canvas.FillPolygons({band(0, total, -em * 0.1 - thickness, -em * 0.1)}, false, ink);
    if (font.StrikeOut)
        canvas.FillPolygons({band(0, total, em * 0.3, em * 0.3 + thickness)}, false, ink);

    TAffine inverse;
    if (m.Invert(inverse))
        next = inverse.Map(start.X + dir.X * total, start.Y + dir.Y * total);
    return true;
}

} // namespace palvex
