#include "imageio/PictureReader.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "imageio/PictureLimits.h"
#include "platform/Errors.h"

namespace palvex {

TPictureReader::~TPictureReader() = default;

void TPictureReader::SetPicture(int64_t width, int64_t height, bool alpha, TFill fill)
{
    if (m_sized)
        throw std::logic_error("picture rows: the size is set once");
    if (width < 0 || height < 0 || ((width > 0 && height > 0) && !IsPictureSizeAllowed(width, height)))
        Refuse();
    m_sized = true;
    m_width = width > 0 && height > 0 ? static_cast<int32_t>(width) : 0;
    m_height = width > 0 && height > 0 ? static_cast<int32_t>(height) : 0;
    m_alpha = alpha;
    m_whole = fill == TFill::Whole;
}

void TPictureReader::SetOrientation(uint16_t orientation)
{
    m_orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
}

void TPictureReader::SetColorProfile(std::vector<uint8_t> profile, TColorModel model, TSamples samples)
{
    m_profile = std::move(profile);
    m_profileModel = model;
    m_wideSamples = samples == TSamples::Wide;
}

bool TPictureReader::ConvertToSRGB()
{
    if (m_next > 0 || m_filled || m_finished)
        throw std::logic_error("picture rows: colours converted after the first row");
    if (!m_conversion && !m_profile.empty())
        m_conversion = TColorConversion::ToSRGB(m_profile, m_profileModel);
    std::vector<uint8_t>().swap(m_profile);
    return m_conversion != nullptr;
}

const TColorConversion* TPictureReader::CMYKConversion() const
{
    const bool cmyk = m_profileModel == TColorModel::CMYK || m_profileModel == TColorModel::CMYKInverted;
    return cmyk ? m_conversion.get() : nullptr;
}

const TColorConversion* TPictureReader::WideConversion() const
{
    return m_wideSamples && !CMYKConversion() ? m_conversion.get() : nullptr;
}

void TPictureReader::ConvertRows(TColor32* pixels, size_t count) const
{
    if (m_conversion && !CMYKConversion() && !m_wideSamples)
        m_conversion->ConvertPixels(pixels, count);
}

void TPictureReader::Refuse() const
{
    throw EInvalidGraphic("Picture is not valid");
}

void TPictureReader::ReadRow(int32_t, TColor32*)
{
    throw std::logic_error("picture rows: this reader fills the whole picture");
}

void TPictureReader::ReadWhole(TBitmap32&)
{
    throw std::logic_error("picture rows: this reader gives rows");
}

void TPictureReader::KeepRows(int32_t rows)
{
    if (m_next > 0 || m_filled)
        throw std::logic_error("picture rows: KeepRows after the first row");
    m_keep = std::clamp(rows, 1, std::max(m_height, 1));
}

void TPictureReader::ReadRowChecked(int32_t y, TColor32* out)
{
    if (m_failed)
        throw std::logic_error("picture rows: decoding failed earlier");
    m_failed = true;
    ReadRow(y, out);
    ConvertRows(out, size_t(m_width));
    m_failed = false;
}

void TPictureReader::FillWhole(TBitmap32& picture)
{
    if (m_failed)
        throw std::logic_error("picture rows: decoding failed earlier");
    m_failed = true;
    picture.SetSize(m_width, m_height);
    ReadWhole(picture);
    ConvertRows(picture.PixelData(), picture.PixelCount());
    m_failed = false;
}

const TColor32* TPictureReader::Row(int32_t y)
{
    if (y < 0 || y >= m_height || m_finished || (!m_whole && y < m_next - m_keep))
        throw std::logic_error("picture rows: row " + std::to_string(y) + " is not at hand");
    if (m_whole) {
        if (!m_filled) {
            FillWhole(m_rows);
            m_filled = true;
        }
        return m_rows.RowAddress(y);
    }
    if (m_rows.IsEmpty())
        m_rows.SetSize(m_width, m_keep);
    while (m_next <= y) {
        ReadRowChecked(m_next, m_rows.RowAddress(m_next % m_keep));
        ++m_next;
    }
    return m_rows.RowAddress(y % m_keep);
}

const TColor32* TPictureReader::RowIfReady(int32_t y) const
{
    if (y < 0 || y >= m_height || m_finished)
        return nullptr;
    if (m_whole)
        return m_filled ? m_rows.RowAddress(y) : nullptr;
    if (y >= m_next || y < m_next - m_keep)
        return nullptr;
    return m_rows.RowAddress(y % m_keep);
}

const TBitmap32* TPictureReader::Whole() const
{
    return m_whole && m_filled && !m_finished ? &m_rows : nullptr;
}

void TPictureReader::Finish()
{
    if (m_finished)
        return;
    if (m_whole) {
        if (!m_filled) {
            FillWhole(m_rows);
            m_filled = true;
        }
    } else if (m_next < m_height) {
        // Rows no one asked for are decoded into the ring (or one row).
        if (m_rows.IsEmpty())
            m_rows.SetSize(m_width, 1);
        const int32_t slots = m_rows.Height();
        for (; m_next < m_height; ++m_next)
            ReadRowChecked(m_next, m_rows.RowAddress(m_next % slots));
    }
    if (m_failed)
        throw std::logic_error("picture rows: decoding failed earlier");
    m_failed = true;
    ReadEnd();
    m_failed = false;
    m_finished = true;
}

void TPictureReader::ReadAll(TBitmap32& target)
{
    if (m_next > 0 || m_filled || m_finished)
        throw std::logic_error("picture rows: ReadAll after the first row");
    if (m_whole) {
        FillWhole(target);
        m_filled = true;
    } else {
        target.SetSize(m_width, m_height);
        for (; m_next < m_height; ++m_next)
            ReadRowChecked(m_next, target.RowAddress(m_next));
    }
    Finish();
}

} // namespace palvex
