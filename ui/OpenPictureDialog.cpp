#include "ui/OpenPictureDialog.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>

#include "framework/windows/ModalRunner.h"
#include "imageio/FileFormats.h"
#include "imageio/PictureRows.h"
#include "ui/Image32.h"

namespace palvex {

namespace {

// The platform's own texts of the dialog, not translated.
constexpr const char* kPictureLabel = "Picture:";
constexpr const char* kPictureSize = " (%dx%d)";
constexpr const char* kNone = "(None)";

} // namespace

QStringList OpenPictureNameFilters()
{
    // Pairs of description and mask; Qt reads the masks from the parentheses,
    // separated by blanks rather than ";".
    const QStringList parts =
        QString::fromStdString(FileFormats().BuildOpenFilter(TGraphic::StaticClass())).split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << QString(parts[i]).replace(QLatin1Char(';'), QLatin1Char(' '));
    return filters;
}

TOpenPictureDialog::TOpenPictureDialog(QWidget* parent, TPictureLoadOptions loading)
    : QFileDialog(parent), m_loading(loading)
{
    setObjectName(QStringLiteral("OpenPictureDialog"));
    // The preview lives in Qt's own dialog; the desktop's would have no room for it.
    setOption(QFileDialog::DontUseNativeDialog);
    setFileMode(QFileDialog::ExistingFile);
    setAcceptMode(QFileDialog::AcceptOpen);
    setNameFilters(OpenPictureNameFilters());

    auto* preview = new QWidget(this);
    auto* column = new QVBoxLayout(preview);
    column->setContentsMargins(0, 0, 0, 0);
    auto* header = new QHBoxLayout;
    PictureLabel = new QLabel(QString::fromLatin1(kPictureLabel), preview);
    PictureLabel->setTextFormat(Qt::PlainText);
    PreviewButton = new QPushButton(preview);
    PreviewButton->setIcon(QIcon::fromTheme(QStringLiteral("zoom-in"),
                                            style()->standardIcon(QStyle::SP_FileDialogContentsView)));
    PreviewButton->setEnabled(false);
    PreviewButton->setAutoDefault(false);
    header->addWidget(PictureLabel, 1);
    header->addWidget(PreviewButton);
    column->addLayout(header);

    auto* panel = new QFrame(preview);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setFrameShadow(QFrame::Sunken);
    // The text lies over the picture's place while there is no picture.
    auto* stack = new QGridLayout(panel);
    stack->setContentsMargins(1, 1, 1, 1);
    PaintPanel = new TImage32(panel);
    PaintPanel->SetBackground(palette().color(QPalette::Window));
    NoneLabel = new QLabel(QString::fromLatin1(kNone), panel);
    NoneLabel->setAlignment(Qt::AlignCenter);
    NoneLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    stack->addWidget(PaintPanel, 0, 0);
    stack->addWidget(NoneLabel, 0, 0);
    panel->setMinimumSize(170, 170);
    column->addWidget(panel, 1);

    if (auto* grid = qobject_cast<QGridLayout*>(layout()))
        grid->addWidget(preview, 0, grid->columnCount(), grid->rowCount(), 1);
    connect(this, &QFileDialog::currentChanged, this, &TOpenPictureDialog::DoSelectionChange);
    // A name typed or pasted into the name field is previewed as a clicked one is.
    if (auto* name = findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        connect(name, &QLineEdit::textChanged, this, [this](const QString& text) {
            if (!text.isEmpty())
                DoSelectionChange(QDir::isAbsolutePath(text) ? text : directory().absoluteFilePath(text));
        });
    connect(PreviewButton, &QPushButton::clicked, this, &TOpenPictureDialog::PreviewClick);
    // The name takes what the list gains; size, type and date keep their whole text.
    if (auto* files = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        files->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
        files->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    resize(980, 520);
}

void TOpenPictureDialog::DoSelectionChange(const QString& path)
{
    if (path == m_shown)
        return;
    m_shown = path;
    bool valid = false;
    // Only regular files are opened: a FIFO or device named like a picture
    // would block the dialog.
    if (QFileInfo(path).isFile()) {
        try {
            // The size shown is the one the run will scale from: upright.
            TBitmap32 pixels;
            LoadPictureFile(pixels, path.toStdString(), m_loading);
            PictureLabel->setText(QString::asprintf(kPictureSize, pixels.Width(), pixels.Height()));
            PaintPanel->Bitmap().AdoptPixels(pixels);
            valid = true;
        } catch (const std::exception&) {
            // Whatever the file holds, the dialog goes on without a preview.
        }
    }
    if (!valid) {
        PictureLabel->setText(QString::fromLatin1(kPictureLabel));
        PaintPanel->Bitmap().SetSize(0, 0);
    }
    PaintPanel->Bitmap().SetStretchFilter(sfDraft);
    PaintPanel->Changed();
    PreviewButton->setEnabled(valid);
    NoneLabel->setVisible(!valid);
}

void TOpenPictureDialog::PreviewClick()
{
    const TBitmap32& shown = PaintPanel->Bitmap();
    if (shown.IsEmpty())
        return;
    QDialog window(this);
    window.setWindowTitle(QFileInfo(m_shown).fileName());
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* view = new TImage32(&window);
    TBitmap32 copy;
    copy.AssignFrom(shown);
    view->Bitmap().AdoptPixels(copy);
    view->Bitmap().SetStretchFilter(sfLinear);
    layout->addWidget(view);
    // The picture's own size where the screen has room for it.
    QSize size(shown.Width(), shown.Height());
    if (const QScreen* screen = this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 4 / 5);
    window.resize(size.expandedTo(QSize(160, 120)));
    RunModal(window);
}

} // namespace palvex
