#include "ui/Progress.h"

#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QVBoxLayout>

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/LanguageSetters.h"
#include "framework/windows/Labels.h"
#include "ui/texts/InterfaceTexts.h"

namespace palvex {

namespace {

// A line that keeps the window's width: a long path is shown with "..." in its
// middle, while text() keeps it whole.
class TElidedLabel : public QLabel {
public:
    explicit TElidedLabel(QWidget* parent) : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QRect area = contentsRect();
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                         fontMetrics().elidedText(text(), Qt::ElideMiddle, area.width()));
    }
};

} // namespace

TFormProgress::TFormProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("FormProgress"));
    // Closing the main window ends the program even while this one is up.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QString::fromStdString(ApplicationTitle()));
    PaintBackground(this, kNavy);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 2, 1, 4);
    layout->setSpacing(3);

    Label3 = NewLabel(this, true, Qt::white);
    Label3->setText(QStringLiteral("Korvane Palvex"));
    Label3->setContentsMargins(7, 0, 7, 0);
    layout->addWidget(Label3);

    auto* panel = new QWidget(this);
    PaintBackground(panel, Qt::white);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(8, 8, 8, 8);
    panelLayout->setSpacing(4);
    ProgressBar1 = new QProgressBar(panel);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    panelLayout->addWidget(ProgressBar1);
    for (QLabel** line : {&Label2, &Label4, &Label5}) {
        *line = new TElidedLabel(panel);
        QPalette palette = (*line)->palette();
        palette.setColor(QPalette::WindowText, Qt::black);
        (*line)->setPalette(palette);
        (*line)->setText(QStringLiteral("..."));
        panelLayout->addWidget(*line);
    }
    panelLayout->addStretch(1);
    layout->addWidget(panel, 1);

    Label1 = NewLabel(this, false, Qt::white);
    Label1->setContentsMargins(7, 0, 7, 0);
    layout->addWidget(Label1);

    resize(364, 155);
}

void TFormProgress::FormShow()
{
    FillProgressTexts(CurrentLanguage);
    SetLabelCaption(801, Label1);
}

void TFormProgress::showEvent(QShowEvent* event)
{
    FormShow();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QWidget::showEvent(event);
}

void TFormProgress::Show() { show(); }

void TFormProgress::Hide() { hide(); }

void TFormProgress::SetBar(int32_t percent) { ProgressBar1->setValue(percent); }

void TFormProgress::SetLine(int32_t line, const std::string& text)
{
    QLabel* labels[] = {Label2, Label4, Label5};
    if (line >= 0 && line < 3)
        labels[line]->setText(QString::fromStdString(text));
}

} // namespace palvex
