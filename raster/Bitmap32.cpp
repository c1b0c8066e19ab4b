// TBitmap32: sizing, filling, copying between bitmaps, the stored form.
#include "raster/Bitmap32.h"

#include <cstring>
#include <new>

#include "platform/Errors.h"
#include "platform/SystemInfo.h"

namespace palvex {

namespace {
// Ends the update begun before it and notifies once, on every way out.
struct TUpdateScope {
    TBitmap32& Self;
    ~TUpdateScope()
    {
        Self.EndUpdate();
        Self.NotifyChanged();
    }
};
} // namespace

TBitmap32::TBitmap32() = default;

TBitmap32::~TBitmap32()
{
    BeginUpdate();
    Lock();
    SetSize(0, 0);
    Unlock();
}

bool TBitmap32::IsEmpty() const
{
    return m_bits == nullptr || m_width == 0 || m_height == 0;
}

uint64_t TBitmap32::MaxBlockBytes()
{
    const uint64_t memory = PhysicalMemoryBytes();
    return memory > 0 ? memory : uint64_t(1) << 32;
}

void TBitmap32::ReallocatePixels(int32_t& width, int32_t& height, int32_t newWidth, int32_t newHeight)
{
    struct HandleGuard {
        TBitmap32& self;
        ~HandleGuard() { self.NotifyHandleChanged(); }
    } guard{*this};

    m_bits.reset();
    width = 0;
    height = 0;
    m_dibHeader.biWidth = 0;
    m_dibHeader.biHeight = 0;

    if (newWidth > 0 && newHeight > 0) {
        uint64_t bytes = 0;
        if (__builtin_mul_overflow(static_cast<uint64_t>(newWidth), static_cast<uint64_t>(newHeight), &bytes) ||
            __builtin_mul_overflow(bytes, uint64_t(4), &bytes) || bytes > MaxBlockBytes())
            throw Exception("Can't allocate the DIB handle");
        m_bits.reset(static_cast<TColor32*>(AllocateLargeBlock(size_t(bytes))));
        if (!m_bits)
            throw Exception("Can't allocate the DIB handle");
        m_dibHeader.biWidth = newWidth;
        m_dibHeader.biHeight = -newHeight;
    }
    width = newWidth;
    height = newHeight;
}

void TBitmap32::NotifyHandleChanged()
{
    if (OnHandleChanged)
        OnHandleChanged(*this);
}

void TBitmap32::FillAll(TColor32 color)
{
    if (IsEmpty())
        return;
    TColor32* p = m_bits.get();
    const size_t n = PixelCount();
    for (size_t i = 0; i < n; ++i)
        p[i] = color;
    NotifyChanged();
}

void TBitmap32::MakeOpaque()
{
    if (!IsEmpty()) {
        TColor32* p = m_bits.get();
        const size_t n = PixelCount();
        for (size_t i = 0; i < n; ++i)
            p[i] |= 0xFF000000u;
    }
    NotifyChanged();
}

void TBitmap32::AssignFrom(const TPersistent* source)
{
    BeginUpdate();
    const TUpdateScope scope{*this};

    if (source == nullptr) {
        SetSize(0, 0);
    } else if (const auto* other = dynamic_cast<const TBitmap32*>(source)) {
        SetSize(other->Width(), other->Height());
        if (!IsEmpty()) {
            if (other != this)
                std::memcpy(m_bits.get(), other->m_bits.get(), PixelCount() * sizeof(TColor32));
            m_drawMode = other->m_drawMode;
            m_masterAlpha = other->m_masterAlpha;
            m_outerColor = other->m_outerColor;
            m_stretchFilter = other->m_stretchFilter;
        }
    } else {
        source->AssignTo(*this);
    }
}

void TBitmap32::AdoptPixels(TBitmap32& other)
{
    if (&other == this)
        return;
    BeginUpdate();
    const TUpdateScope scope{*this};
    const bool resized = other.m_width != m_width || other.m_height != m_height;
    std::swap(m_bits, other.m_bits);
    std::swap(m_width, other.m_width);
    std::swap(m_height, other.m_height);
    std::swap(m_dibHeader, other.m_dibHeader);
    NotifyHandleChanged();
    if (resized)
        NotifyResized();
}

void TBitmap32::CopyTo(TPersistent& target) const
{
    if (!target.TakeFrom(*this))
        TPersistent::AssignTo(target);
}

std::vector<uint8_t> TBitmap32::WriteData() const
{
    std::vector<uint8_t> data(8 + PixelCount() * 4);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, static_cast<uint32_t>(m_width));
    put32(4, static_cast<uint32_t>(m_height));
    for (size_t i = 0; i < PixelCount(); ++i)
        put32(8 + 4 * i, m_bits[i]);
    return data;
}

void TBitmap32::ReadData(std::span<const uint8_t> data)
{
    auto get32 = [&](size_t at) {
        if (data.size() < at + 4)
            throw EReadError(kSReadError);
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(data[at + i]) << (8 * i);
        return v;
    };
    const auto w = static_cast<int32_t>(get32(0));
    const auto h = static_cast<int32_t>(get32(4));
    // Checked before sizing, so a lying header allocates nothing.
    const uint64_t needed = 8 + uint64_t(std::max(w, 0)) * uint64_t(std::max(h, 0)) * 4;
    if (data.size() < needed)
        throw EReadError(kSReadError);
    SetSize(w, h);
    for (size_t i = 0; i < PixelCount(); ++i)
        m_bits[i] = get32(8 + 4 * i);
    NotifyChanged();
}

void TBitmap32::SetDrawMode(TDrawMode value)
{
    if (value != m_drawMode) {
        m_drawMode = value;
        NotifyChanged();
    }
}

void TBitmap32::SetMasterAlpha(uint32_t value)
{
    if (value != m_masterAlpha) {
        m_masterAlpha = value;
        NotifyChanged();
    }
}

void TBitmap32::SetStretchFilter(TStretchFilter value)
{
    if (value != m_stretchFilter) {
        m_stretchFilter = value;
        NotifyChanged();
    }
}

} // namespace palvex
