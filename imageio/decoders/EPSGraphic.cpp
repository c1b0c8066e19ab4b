// The EPS reader: previews only, PostScript is never executed.
#include "imageio/decoders/EPSGraphic.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "imageio/ByteReader.h"
#include "imageio/Metafile.h"
#include "imageio/PictureReader.h"
#include "imageio/Streams.h"
#include "imageio/decoders/TIFFGraphic.h"
#include "platform/Errors.h"
#include "platform/StrToInt.h"

namespace palvex {

PALVEX_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TDecoderGraphic)

namespace {

constexpr uint8_t kDosMagic[4] = {0xC5, 0xD0, 0xD3, 0xC6};

// A decimal number of a comment line; false past digits' end or on overflow.
bool ParseNumber(std::string_view& s, uint32_t& value)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    if (s.empty() || s.front() < '0' || s.front() > '9')
        return false;
    uint64_t v = 0;
    while (!s.empty() && s.front() >= '0' && s.front() <= '9') {
        v = v * 10 + uint64_t(s.front() - '0');
        if (v > 0xFFFFFFFFu)
            return false;
        s.remove_prefix(1);
    }
    value = static_cast<uint32_t>(v);
    return true;
}

// The reader of an EPS file: the preview's own reader, whose rows it
// passes on, or the rows of a hex preview.
class TEPSReader final : public TDecoderReader {
public:
    explicit TEPSReader(TStream& stream) : TDecoderReader("EPS")
    {
        TByteReader in(stream, FormatName());
        if (in.Size() >= 4 && std::memcmp(in.Bytes(4).data(), kDosMagic, 4) == 0) {
            const uint32_t psAt = in.U32LE(), psLength = in.U32LE();
            const uint32_t wmfAt = in.U32LE(), wmfLength = in.U32LE();
            const uint32_t tiffAt = in.U32LE(), tiffLength = in.U32LE();
            if (tiffAt != 0 && tiffLength != 0)
                OpenPreview(std::make_unique<TTIFFGraphic>(), Section(in, tiffAt, tiffLength), false);
            else if (wmfAt != 0 && wmfLength != 0)
                OpenPreview(std::make_unique<TMetafile>(), Section(in, wmfAt, wmfLength), true);
            else if (psLength == 0 || !ReadHexPreview(in, psAt, psLength))
                Unsupported("PostScript without a preview");
            return;
        }
        in.Seek(0);
        if (in.Size() < 4 || std::memcmp(in.Bytes(4).data(), "%!PS", 4) != 0)
            InvalidFormat();
        if (!ReadHexPreview(in, 0, in.Size()))
            Unsupported("PostScript without a preview");
    }

private:
    std::vector<uint8_t> Section(TByteReader& in, size_t at, size_t length)
    {
        if (at > in.Size() || length > in.Size() - at)
            ReadError();
        std::vector<uint8_t> bytes(length);
        if (length == 0)
            return bytes;
        in.Seek(at);
        if (in.ReadSome(bytes.data(), length) != length)
            ReadError();
        return bytes;
    }

    void OpenPreview(std::unique_ptr<TGraphic> kind, std::vector<uint8_t> bytes, bool onWhite)
    {
        m_kind = std::move(kind);
        m_previewStream = std::make_unique<TMemoryStream>(std::move(bytes));
        m_preview = m_kind->OpenRows(*m_previewStream);
        m_onWhite = onWhite;
        SetPicture(m_preview->Width(), m_preview->Height(), m_preview->HasAlpha() && !onWhite);
    }

    bool ReadHexPreview(TByteReader& in, size_t at, size_t length);
    void ReadHexDigits(TByteReader& in, size_t at, size_t end, size_t needed);

    void ReadRow(int32_t y, TColor32* out) override
    {
        const int32_t width = Width();
        if (m_preview) {
            const TColor32* in = m_preview->Row(y);
            // What a metafile preview leaves undrawn is paper.
            for (int32_t x = 0; x < width; ++x)
                out[x] = m_onWhite && AlphaComponent(in[x]) == 0 ? 0xFFFFFFFF : in[x];
            return;
        }
        const uint8_t* in = m_hex.data() + size_t(y) * m_rowBytes;
        const uint32_t maxValue = (1u << m_depth) - 1;
        for (int32_t x = 0; x < width; ++x) {
            const size_t bit = size_t(x) * m_depth;
            const uint32_t v = (in[bit / 8] >> (8 - m_depth - bit % 8)) & maxValue;
            const auto g = static_cast<uint8_t>(255 - v * 255 / maxValue);
            out[x] = Color32(g, g, g);
        }
    }

    void ReadEnd() override
    {
        if (m_preview)
            m_preview->Finish();
    }

    std::unique_ptr<TGraphic> m_kind;
    std::unique_ptr<TMemoryStream> m_previewStream;
    std::unique_ptr<TPictureReader> m_preview;
    bool m_onWhite = false;
    std::vector<uint8_t> m_hex;
    size_t m_rowBytes = 0;
    uint32_t m_depth = 1;
};

// %%BeginPreview: width height depth lines, then hex lines starting with
// "%" until %%EndPreview. Rows are padded to whole bytes; 0 is white. The
// PostScript lies at [at, at + length) of the file, which is read as needed.
bool TEPSReader::ReadHexPreview(TByteReader& in, size_t at, size_t length)
{
    // The preview comes before the prolog; a long search gains nothing.
    constexpr size_t kSearched = size_t(1) << 20;
    const std::vector<uint8_t> head = Section(in, at, std::min(length, kSearched + 256));
    const std::string_view all(reinterpret_cast<const char*>(head.data()), head.size());
    const size_t begin = all.substr(0, kSearched).find("%%BeginPreview:");
    if (begin == std::string_view::npos)
        return false;
    std::string_view header = all.substr(begin + 15);
    header = header.substr(0, std::min(header.find_first_of("\r\n"), header.size()));
    const size_t dataAt = begin + 15 + header.size();
    uint32_t width = 0, height = 0, depth = 0, lines = 0;
    if (!ParseNumber(header, width) || !ParseNumber(header, height) || !ParseNumber(header, depth) ||
        !ParseNumber(header, lines))
        InvalidFormat();
    if (depth != 1 && depth != 2 && depth != 4 && depth != 8)
        Unsupported("Preview depth");
    if (!IsPictureSizeAllowed(width, height))
        InvalidFormat();
    const size_t rowBytes = (size_t(width) * depth + 7) / 8;
    const size_t needed = rowBytes * height;
    // Two hex digits a byte: too few characters cannot fill the picture.
    if (needed > (length - dataAt) / 2)
        ReadError();
    ReadHexDigits(in, at + dataAt, at + length, needed);
    m_rowBytes = rowBytes;
    m_depth = depth;
    SetPicture(width, height, false);
    return true;
}

// The hex digits from at up to %%EndPreview, until needed bytes are read.
void TEPSReader::ReadHexDigits(TByteReader& in, size_t at, size_t end, size_t needed)
{
    static constexpr std::string_view kEnd = "%%EndPreview";
    int high = -1;
    auto digit = [&](char c) {
        const int d = HexDigitValue(c);
        if (d < 0)
            return;
        if (high < 0) {
            high = d;
        } else {
            m_hex.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    };
    // Characters of a partly seen end mark wait: it may turn out to be one.
    size_t matched = 0;
    std::vector<uint8_t> block(size_t(1) << 16);
    in.Seek(at);
    for (size_t left = end - at; left > 0 && m_hex.size() < needed;) {
        const size_t got = in.ReadSome(block.data(), std::min(left, block.size()));
        if (got == 0)
            break;
        left -= got;
        for (size_t i = 0; i < got && m_hex.size() < needed; ++i) {
            const char c = static_cast<char>(block[i]);
            if (c == '\0')
                ReadError(); // text, not hex lines: never a preview's data
            if (c == kEnd[matched]) {
                if (++matched == kEnd.size())
                    ReadError();
                continue;
            }
            if (matched == 2 && c == '%')
                continue;
            for (size_t k = 2; k < matched; ++k)
                digit(kEnd[k]);
            matched = c == '%' ? 1 : 0;
            digit(c);
        }
    }
    if (m_hex.size() < needed)
        ReadError();
}

} // namespace

std::unique_ptr<TPictureReader> TEPSGraphic::OpenRows(TStream& stream)
{
    return std::make_unique<TEPSReader>(stream);
}

} // namespace palvex
