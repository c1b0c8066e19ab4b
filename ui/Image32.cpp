#include "ui/Image32.h"

#include <QPainter>

#include "raster/PreviewRect.h"
#include "raster/Stretch.h"

namespace palvex {

TImage32::TImage32(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setMinimumSize(64, 48);
}

void TImage32::SetBackground(const QColor& color)
{
    m_background = color;
    update();
}

void TImage32::Changed()
{
    m_scaledValid = false;
    update();
}

void TImage32::resizeEvent(QResizeEvent* event)
{
    m_scaledValid = false;
    QWidget::resizeEvent(event);
}

QRect TImage32::PictureRect() const
{
    const TRect r = PreviewRect(m_bitmap.Width(), m_bitmap.Height(), width(), height());
    return QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
}

QImage TImage32::ScaledPicture()
{
    if (m_scaledValid)
        return m_scaled;
    m_scaled = QImage();
    m_scaledValid = true;
    // Stretched to the screen's pixels, not the layout's, so that a scaled
    // desktop shows the filter's result and not Qt's enlargement of it.
    const qreal ratio = devicePixelRatioF();
    const TRect r = PreviewRect(m_bitmap.Width(), m_bitmap.Height(), qRound(width() * ratio),
                                qRound(height() * ratio));
    if (r.Right <= r.Left || r.Bottom <= r.Top)
        return m_scaled;
    TBitmap32 scaled;
    try {
        scaled.SetSize(r.Right - r.Left, r.Bottom - r.Top);
        StretchCopy(&scaled, scaled.FullRect(), scaled.FullRect(), &m_bitmap, m_bitmap.FullRect(),
                    m_bitmap.StretchFilter(), dmOpaque, {});
    } catch (const std::exception&) {
        // A paint has no one to report to, and would only fail again: nothing is drawn.
        return m_scaled;
    }
    // The pixels' bytes are blue, green, red, alpha: QImage's 32-bit RGB; the
    // alpha is not drawn, as an opaque draw does not.
    m_scaled = QImage(reinterpret_cast<const uchar*>(scaled.PixelData()), scaled.Width(), scaled.Height(),
                      scaled.Width() * 4, QImage::Format_RGB32)
                   .copy();
    m_scaled.setDevicePixelRatio(ratio);
    m_scaledOrigin = QPoint(r.Left, r.Top);
    return m_scaled;
}

void TImage32::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    const QImage picture = ScaledPicture();
    if (picture.isNull())
        return;
    painter.drawImage(QPointF(m_scaledOrigin) / picture.devicePixelRatio(), picture);
}

} // namespace palvex
