#include "framework/windows/KVAppAbout.h"
#include "framework/windows/Labels.h"

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/MakerInfo.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/LanguageSetters.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>

namespace palvex {

namespace {

constexpr int kWidth = 550;
constexpr int kHeight = 304;
constexpr int kWhiteHeight = 213;

QLabel* MakeLabel(QWidget* parent, const QRect& place, const QColor& color, bool bold = false)
{
    QLabel* label = NewLabel(parent, bold, color);
    label->setGeometry(place);
    return label;
}

TLinkLabel* MakeLink(QWidget* parent, const QRect& place, const QColor& color)
{
    auto* link = new TLinkLabel(parent);
    link->setGeometry(place);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, color);
    link->setPalette(palette);
    QFont font = link->font();
    font.setUnderline(true);
    link->setFont(font);
    return link;
}

QString Q(const char* text) { return QString::fromUtf8(text); }

} // namespace

TKVFormAbout::TKVFormAbout(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(kWidth, kHeight);
    PaintBackground(this, kNavy);

    // The one-pixel navy frame is the window's own background around the white part.
    Shape1 = new QWidget(this);
    Shape1->setGeometry(1, 1, kWidth - 2, kWhiteHeight);
    PaintBackground(Shape1, Qt::white);
    Shape1->installEventFilter(this);

    Image1 = new QLabel(Shape1);
    Image1->setGeometry(14, 14, 32, 32);

    Label1 = MakeLabel(Shape1, QRect(60, 14, 260, 20), Qt::black, true);
    Label14 = MakeLabel(Shape1, QRect(60, 36, 260, 16), Qt::black);
    Label2 = MakeLabel(Shape1, QRect(60, 54, 260, 32), Qt::black);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Label11 = MakeLabel(Shape1, QRect(60, 100, 260, 16), Qt::black, true);
    Label12 = MakeLink(Shape1, QRect(60, 118, 260, 16), kNavy);
    Label12->setText(Q(kMakerSupportPage));
    Label13 = MakeLink(Shape1, QRect(60, 136, 260, 16), kNavy);
    Label13->setText(QStringLiteral("e-mail: ") + Q(kMakerSupportEmail));
    for (TLinkLabel* link : {Label12, Label13})
        link->adjustSize();

    Memo1 = new QPlainTextEdit(Shape1);
    Memo1->setGeometry(334, 14, 200, 160);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QPalette memoPalette = Memo1->palette();
    memoPalette.setColor(QPalette::Text, kNavy);
    memoPalette.setColor(QPalette::Base, Qt::white);
    Memo1->setPalette(memoPalette);

    Label6 = MakeLabel(Shape1, QRect(kWidth - 2 - 12 - 260, kWhiteHeight - 26, 260, 18), Qt::black, true);
    Label6->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label6->setText(Q(kMakerCompany));

    const int lower = 1 + kWhiteHeight;
    Label3 = MakeLink(this, QRect(14, lower + 10, 300, 16), Qt::white);
    Label3->setText(Q(kMakerHomePage));
    Label3->adjustSize();

    const int right = 380;
    Label7 = MakeLabel(this, QRect(right, lower + 6, 160, 15), Qt::white);
    Label7->setText(Q(kMakerStreet));
    Label8 = MakeLabel(this, QRect(right, lower + 20, 160, 15), Qt::white);
    Label8->setText(Q(kMakerPostcode) + QStringLiteral(" ") + Q(kMakerCity));
    Label5 = MakeLabel(this, QRect(right, lower + 34, 160, 15), Qt::white);
    Label9 = MakeLabel(this, QRect(right, lower + 52, 160, 15), Qt::white);
    Label9->setText(QStringLiteral("Tel.: ") + Q(kMakerPhone));
    Label10 = MakeLabel(this, QRect(right, lower + 66, 160, 15), Qt::white);
    Label10->setText(QStringLiteral("Fax: ") + Q(kMakerFax));

    connect(Label3, &TLinkLabel::clicked, this, &TKVFormAbout::HomePage);
    connect(Label12, &TLinkLabel::clicked, this, &TKVFormAbout::SupportPage);
    connect(Label13, &TLinkLabel::clicked, this, &TKVFormAbout::SupportEmail);
}

void TKVFormAbout::FormShow()
{
    Memo1->setVisible(!Memo1->toPlainText().isEmpty());

    FillFrameworkTexts();
    SetLabelHint(905, Label3);
    SetLabelCaption(907, Label11);
    SetLabelCaption(908, Label5);
    SetLabelHint(906, Label13);
    SetLabelHint(925, Label12);

    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    Image1->setPixmap(icon.pixmap(Image1->size()));
    Label1->setText(QString::fromStdString(ApplicationTitle()));
    Label14->setText(QString::fromStdString(GetVersionText()));
    Label2->setText(QString::fromStdString(GetSystemText()));
}

void TKVFormAbout::showEvent(QShowEvent* event)
{
    FormShow();
    // Label3 may have taken a longer WebPage since it was made.
    Label3->adjustSize();
    if (parentWidget())
        move(parentWidget()->window()->frameGeometry().center() - rect().center());
    else if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TKVFormAbout::HomePage() { OpenAddress(Label3->text().toStdString()); }

void TKVFormAbout::SupportPage() { OpenAddress(kMakerSupportPage); }

void TKVFormAbout::SupportEmail()
{
    ComposeMail(kMakerSupportEmail, kSupportMailSubject,
                SupportMailBody(ApplicationTitle(), Label14->text().toStdString(), Label2->text().toStdString()));
}

void TKVFormAbout::FormMouseDown() { accept(); }

void TKVFormAbout::mousePressEvent(QMouseEvent* event)
{
    event->accept();
    FormMouseDown();
}

bool TKVFormAbout::eventFilter(QObject* watched, QEvent* event)
{
    // Shape1MouseDown: the white part closes the window like the background does.
    if (watched == Shape1 && event->type() == QEvent::MouseButtonPress) {
        FormMouseDown();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace palvex
