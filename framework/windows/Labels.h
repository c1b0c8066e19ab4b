// The plain-text labels of the windows, bold and coloured where asked.
#pragma once

#include <QColor>
#include <QLabel>

namespace palvex {

// An invalid colour keeps the palette's own.
inline QLabel* NewLabel(QWidget* parent, bool bold = false, const QColor& color = QColor())
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

} // namespace palvex
