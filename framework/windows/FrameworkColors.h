// Colours and small widgets that the framework's windows share.
#pragma once

#include <QColor>
#include <QLabel>

namespace palvex {

inline const QColor kNavy(0, 0, 128);
inline const QColor kErrorRed(225, 0, 0);

// A label that acts as a link: the hand pointer over it, and it swallows the mouse
// press so the window under it does not take the click for its own.
class TLinkLabel : public QLabel {
    Q_OBJECT
public:
    explicit TLinkLabel(QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// Fills a widget's background with one colour.
// The bold white caption of a frameless framework window, on its navy strip.
QLabel* MakeTitleLabel(QWidget* window, int width);
void PaintBackground(QWidget* widget, const QColor& color);

} // namespace palvex
