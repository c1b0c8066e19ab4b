#include "imageio/Orientation.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace palvex {

namespace {

// Rows a turn makes at once: a band of columns is read across every stored
// row, each row's part one cache line.
constexpr int32_t kBand = 16;

void MirrorRow(TColor32* row, int32_t width)
{
    std::reverse(row, row + width);
}

// Orientations 3 and 4 in place.
void FlipInPlace(TBitmap32& picture, uint16_t orientation)
{
    if (orientation == 3) {
        std::reverse(picture.PixelData(), picture.PixelData() + picture.PixelCount());
        return;
    }
    const int32_t width = picture.Width();
    for (int32_t top = 0, bottom = picture.Height() - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(picture.RowAddress(top), picture.RowAddress(top) + width, picture.RowAddress(bottom));
}

// Upright rows first .. first + count - 1 of a turned picture (5 to 8) from
// the stored one. Upright row Y is stored column Y (5, 6) or W - 1 - Y (7, 8);
// along it, stored row y lands at x = y (5, 8) or H - 1 - y (6, 7).
void TurnBand(const TBitmap32& stored, uint16_t orientation, int32_t first, int32_t count, TColor32* const* rows)
{
    const int32_t width = stored.Width();
    const int32_t height = stored.Height();
    const bool fromLeft = orientation == 5 || orientation == 6;
    const bool downwards = orientation == 5 || orientation == 8;
    for (int32_t y = 0; y < height; ++y) {
        const TColor32* in = stored.RowAddress(y);
        const int32_t x = downwards ? y : height - 1 - y;
        if (fromLeft) {
            for (int32_t i = 0; i < count; ++i)
                rows[i][x] = in[first + i];
        } else {
            for (int32_t i = 0; i < count; ++i)
                rows[i][x] = in[width - 1 - (first + i)];
        }
    }
}

} // namespace

TOrientedRows::TOrientedRows(TPictureReader& reader, uint16_t orientation)
    : m_reader(reader), m_orientation(orientation)
{
    if (orientation < 2 || orientation > 8)
        throw std::logic_error("oriented rows: orientation " + std::to_string(orientation));
    const bool swap = Transposes();
    m_width = swap ? reader.Height() : reader.Width();
    m_height = swap ? reader.Width() : reader.Height();
}

TOrientedRows::~TOrientedRows() = default;

void TOrientedRows::KeepRows(int32_t rows)
{
    if (m_next > 0 || m_filled)
        throw std::logic_error("oriented rows: KeepRows after the first row");
    m_keep = std::clamp(rows, 1, std::max(m_height, 1));
}

void TOrientedRows::Fill()
{
    if (m_filled)
        return;
    // Read to the end at once: ReadAll also checks the rest of the file.
    m_reader.ReadAll(m_picture);
    if (!Transposes() && !Mirrors())
        FlipInPlace(m_picture, m_orientation);
    m_filled = true;
}

void TOrientedRows::FillBand(int32_t first)
{
    const int32_t count = std::min(kBand, m_height - first);
    const int32_t slots = m_ring.Height();
    TColor32* rows[kBand];
    for (int32_t i = 0; i < count; ++i)
        rows[i] = m_ring.RowAddress((first + i) % slots);
    TurnBand(m_picture, m_orientation, first, count, rows);
}

const TColor32* TOrientedRows::Row(int32_t y)
{
    const int32_t slots = m_ring.IsEmpty() ? m_keep : m_ring.Height();
    if (y < 0 || y >= m_height || m_finished || ((Mirrors() || Transposes()) && y < m_next - slots))
        throw std::logic_error("oriented rows: row " + std::to_string(y) + " is not at hand");
    if (Mirrors()) {
        if (m_ring.IsEmpty()) {
            m_reader.KeepRows(1);
            m_ring.SetSize(m_width, m_keep);
        }
        for (; m_next <= y; ++m_next) {
            TColor32* out = m_ring.RowAddress(m_next % m_keep);
            std::copy_n(m_reader.Row(m_next), m_width, out);
            MirrorRow(out, m_width);
        }
        return m_ring.RowAddress(y % m_keep);
    }
    Fill();
    if (!Transposes())
        return m_picture.RowAddress(y);
    // A band made at once must not overwrite the rows still kept.
    if (m_ring.IsEmpty())
        m_ring.SetSize(m_width, std::min(m_height, m_keep + kBand - 1));
    while (m_next <= y) {
        FillBand(m_next);
        m_next = std::min(m_height, m_next + kBand);
    }
    return m_ring.RowAddress(y % m_ring.Height());
}

const TColor32* TOrientedRows::RowIfReady(int32_t y) const
{
    if (y < 0 || y >= m_height || m_finished)
        return nullptr;
    if (!Mirrors() && !Transposes())
        return m_filled ? m_picture.RowAddress(y) : nullptr;
    if (m_ring.IsEmpty() || y >= m_next || y < m_next - m_ring.Height())
        return nullptr;
    return m_ring.RowAddress(y % m_ring.Height());
}

const TBitmap32* TOrientedRows::Whole() const
{
    return !Mirrors() && !Transposes() && m_filled && !m_finished ? &m_picture : nullptr;
}

void TOrientedRows::Finish()
{
    if (m_finished)
        return;
    if (Mirrors())
        m_reader.Finish();
    else
        Fill();
    m_finished = true;
    // The rows handed out are no longer needed.
    m_picture.SetSize(0, 0);
    m_ring.SetSize(0, 0);
}

void TOrientedRows::ReadAll(TBitmap32& target)
{
    if (m_next > 0 || m_filled || m_finished)
        throw std::logic_error("oriented rows: ReadAll after the first row");
    if (!Transposes()) {
        m_reader.ReadAll(target);
        if (Mirrors()) {
            for (int32_t y = 0; y < target.Height(); ++y)
                MirrorRow(target.RowAddress(y), target.Width());
        } else {
            FlipInPlace(target, m_orientation);
        }
    } else {
        m_reader.ReadAll(m_picture);
        target.SetSize(m_width, m_height);
        TColor32* rows[kBand];
        for (int32_t first = 0; first < m_height; first += kBand) {
            const int32_t count = std::min(kBand, m_height - first);
            for (int32_t i = 0; i < count; ++i)
                rows[i] = target.RowAddress(first + i);
            TurnBand(m_picture, m_orientation, first, count, rows);
        }
        m_picture.SetSize(0, 0);
    }
    m_finished = true;
}

} // namespace palvex
