// TImage32: a view of a 32-bit bitmap that fits the picture into the control,
// proportions kept and centred, drawn through the project's own stretch with
// the bitmap's filter, on black.
#pragma once

#include <QImage>
#include <QWidget>

#include "raster/Bitmap32.h"

namespace palvex {

class TImage32 : public QWidget {
    Q_OBJECT
public:
    explicit TImage32(QWidget* parent = nullptr);

    TBitmap32& Bitmap() { return m_bitmap; }
    const TBitmap32& Bitmap() const { return m_bitmap; }
    // Black unless set otherwise.
    void SetBackground(const QColor& color);
    // Call after changing the bitmap's pixels or filter: the view redraws.
    void Changed();

    // Where the picture lies in the control, in the control's own pixels.
    QRect PictureRect() const;
    // The picture as the next paint draws it, at the screen's pixels (a null
    // image when there is nothing to draw).
    QImage ScaledPicture();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TBitmap32 m_bitmap;
    QImage m_scaled; // the last stretch, kept until the picture, filter or size changes
    QPoint m_scaledOrigin; // in the screen's pixels
    QColor m_background = Qt::black;
    bool m_scaledValid = false;
};

} // namespace palvex
