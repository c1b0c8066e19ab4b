#include "framework/windows/FormChooseLanguage.h"

#include "framework/KVMultiLanguage.h"
#include "framework/windows/FrameworkColors.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

// The pictures live in a static library whose resource object nothing else references,
// so the linker would drop it unless it is registered by hand (outside any namespace).
static void InitFrameworkResources() { Q_INIT_RESOURCE(FrameworkWindows); }

namespace palvex {

TFormChooseLanguage::TFormChooseLanguage(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    InitFrameworkResources();
    setFixedSize(260, 150);
    PaintBackground(this, kNavy);

    Label3 = MakeTitleLabel(this, 244);

    auto* panel = new QWidget(this);
    panel->setGeometry(1, 22, 258, 127);
    PaintBackground(panel, Qt::white);

    ListView1 = new QListWidget(panel);
    ListView1->setGeometry(8, 8, 242, 72);
    ListView1->setIconSize(QSize(16, 16));
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setFrameShape(QFrame::NoFrame);
    ListView1->viewport()->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("OK"), panel);
    Button1->setGeometry(258 - 75 - 8, 127 - 25 - 8, 75, 25);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TFormChooseLanguage::Button1Click);
}

void TFormChooseLanguage::FormShow()
{
    ListView1->clear();
    new QListWidgetItem(QIcon(QStringLiteral(":/framework/czech.png")), QStringLiteral("Česky"), ListView1);
    new QListWidgetItem(QIcon(QStringLiteral(":/framework/english.png")), QStringLiteral("English"), ListView1);
    ListView1->setCurrentItem(nullptr);
    ListView1->clearSelection();
}

void TFormChooseLanguage::showEvent(QShowEvent* event)
{
    FormShow();
    if (parentWidget())
        move(parentWidget()->window()->frameGeometry().center() - rect().center());
    else if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TFormChooseLanguage::Button1Click()
{
    const QList<QListWidgetItem*> selected = ListView1->selectedItems();
    if (!selected.isEmpty()) {
        const int row = ListView1->row(selected.first());
        if (row == 0)
            CurrentLanguage = kLanguageCzech;
        if (row == 1)
            CurrentLanguage = kLanguageEnglish;
    }
    SaveLanguage();
    accept();
}

void TFormChooseLanguage::ListView1DblClick() { Button1Click(); }

bool TFormChooseLanguage::eventFilter(QObject* watched, QEvent* event)
{
    // A double click anywhere in the list, on an entry or beside it, works as OK.
    if (watched == ListView1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        QDialog::eventFilter(watched, event);
        ListView1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace palvex
