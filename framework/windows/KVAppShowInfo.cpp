#include "framework/windows/KVAppShowInfo.h"

#include "framework/KVMultiLanguage.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/LanguageSetters.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace palvex {

TFormInformation::TFormInformation(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setFixedSize(364, 155);
    PaintBackground(this, kNavy);

    Label3 = MakeTitleLabel(this, 348);

    Panel1 = new QWidget(this);
    Panel1->setGeometry(1, 22, 362, 132);
    PaintBackground(Panel1, Qt::white);

    Label1 = new QLabel(Panel1);
    Label1->setGeometry((362 - 329) / 2, 12, 329, 73);
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignCenter);
    QPalette black = Label1->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(black);

    Button1 = new QPushButton(QStringLiteral("OK"), Panel1);
    Button1->setGeometry(362 - 75 - 8, 132 - 25 - 8, 75, 25);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TFormInformation::Button1Click);
}

void TFormInformation::SetMessage(bool isError, const QString& message)
{
    m_isError = isError;
    PaintBackground(this, isError ? kErrorRed : kNavy);
    SetLabelCaption(isError ? 933 : 932, Label3);
    Label1->setText(message);
}

void TFormInformation::Button1Click() { accept(); }

void TFormInformation::showEvent(QShowEvent* event)
{
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    Button1->setFocus();
    QDialog::showEvent(event);
}

} // namespace palvex
