#include "shell/windows/FormIntegration.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QIcon>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>

#include "framework/KVMultiLanguage.h"
#include "framework/windows/LanguageSetters.h"
#include "framework/windows/ModalRunner.h"
#include "shell/ShellIntegration.h"
#include "ui/ProgramWindows.h"
#include "ui/texts/InterfaceTexts.h"

namespace palvex {

namespace {

constexpr int kFileTypeRows = 8;
constexpr int kFolderCheckBox = 41;

// The preset boxes' captions: the Presets menu's wordings, not the verbs' captions.
constexpr int kPresetTexts[] = {38, 39, 40, 41, 42, 43, 44, 45, 46, 56, 57, 58, 228, 229, 59};

// The preset boxes' groups, each a list of rows of check-box numbers (0: no box).
struct TPresetRow {
    int Left;
    int Right;
};
constexpr TPresetRow kPresetRows[] = {{49, 53}, {50, 54}, {51, 55}, {52, 56}, {0, 0}, {57, 0}, {58, 0}, {59, 0},
                                      {60, 0},  {0, 0},   {61, 0},  {62, 0},  {0, 0}, {63, 0}};

QString FileTypeCaption(const TShellFileType& type)
{
    if (*type.Extension == '\0')
        return QStringLiteral("\\*.*");
    return QString::fromLatin1(type.Extension).toUpper();
}

QLabel* NewHeading(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QPushButton* NewButton(QWidget* parent, const QIcon& glyph, const char* name)
{
    auto* button = new QPushButton(glyph, QString(), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

} // namespace

TFormIntegration::TFormIntegration(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormIntegration"));
    setWindowTitle(QStringLiteral("Integrace do shellu"));
    setModal(true);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 10, 12, 10);
    outer->setSpacing(4);

    Label1 = NewHeading(this);
    outer->addWidget(Label1);
    auto* types = new QGridLayout;
    types->setContentsMargins(16, 2, 0, 8);
    types->setHorizontalSpacing(10);
    types->setVerticalSpacing(0);
    for (const TShellFileType& type : ShellFileTypes()) {
        auto* box = new QCheckBox(FileTypeCaption(type), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(type.CheckBox));
        m_fileTypes[type.CheckBox - 1] = box;
        const int index = type.CheckBox - 1;
        types->addWidget(box, index % kFileTypeRows, index / kFileTypeRows);
    }
    outer->addLayout(types);

    Label2 = NewHeading(this);
    outer->addWidget(Label2);
    for (int number = kFirstPreset; number <= kLastPreset; ++number) {
        auto* box = new QCheckBox(this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(number));
        m_presets[number - kFirstPreset] = box;
    }
    auto* presets = new QGridLayout;
    presets->setContentsMargins(16, 2, 0, 0);
    presets->setHorizontalSpacing(16);
    presets->setVerticalSpacing(0);
    int row = 0;
    for (const TPresetRow& presetRow : kPresetRows) {
        if (presetRow.Left == 0)
            presets->setRowMinimumHeight(row, 8);
        else if (presetRow.Right == 0)
            presets->addWidget(CheckBox(presetRow.Left), row, 0, 1, 2);
        else {
            presets->addWidget(CheckBox(presetRow.Left), row, 0);
            presets->addWidget(CheckBox(presetRow.Right), row, 1);
        }
        ++row;
    }
    outer->addLayout(presets);
    outer->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    BitBtn1 = NewButton(this, QIcon::fromTheme(QStringLiteral("edit-undo"),
                                               style()->standardIcon(QStyle::SP_BrowserReload)), "BitBtn1");
    BitBtn5 = NewButton(this, QIcon::fromTheme(QStringLiteral("edit-select-all")), "BitBtn5");
    BitBtn6 = NewButton(this, QIcon::fromTheme(QStringLiteral("edit-clear"),
                                               style()->standardIcon(QStyle::SP_DialogResetButton)), "BitBtn6");
    BitBtn2 = NewButton(this, style()->standardIcon(QStyle::SP_DialogOkButton), "BitBtn2");
    BitBtn3 = NewButton(this, style()->standardIcon(QStyle::SP_DialogCancelButton), "BitBtn3");
    BitBtn2->setDefault(true);
    for (QPushButton* button : {BitBtn1, BitBtn5, BitBtn6})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);
    outer->addSpacing(8);
    outer->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TFormIntegration::BitBtn1Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TFormIntegration::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TFormIntegration::BitBtn6Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);

    resize(514, 505);
}

QCheckBox* TFormIntegration::CheckBox(int number) const
{
    if (number >= 1 && number <= kShellFileTypeCount)
        return m_fileTypes[number - 1];
    if (number >= kFirstPreset && number <= kLastPreset)
        return m_presets[number - kFirstPreset];
    return nullptr;
}

TIntegrationChoice TFormIntegration::Choice() const
{
    TIntegrationChoice choice;
    for (size_t i = 0; i < choice.FileTypes.size(); ++i)
        choice.FileTypes[i] = CheckBox(ShellFileTypes()[i].CheckBox)->isChecked();
    for (size_t i = 0; i < choice.Verbs.size(); ++i)
        choice.Verbs[i] = CheckBox(ShellVerbs()[i].CheckBox)->isChecked();
    return choice;
}

void TFormIntegration::showEvent(QShowEvent* event)
{
    FormShow();
    QDialog::showEvent(event);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
}

void TFormIntegration::FormShow()
{
    // The verbs' captions come from the table too: they follow the language shown here.
    FillMainWindowTexts(CurrentLanguage);
    setWindowTitle(QText(34));
    SetLabelCaption(70, Label1);
    SetLabelCaption(71, Label2);
    SetButtonCaption(72, BitBtn1);
    SetButtonCaption(73, BitBtn5);
    SetButtonCaption(74, BitBtn6);
    SetButtonCaption(75, BitBtn2);
    SetButtonCaption(76, BitBtn3);
    for (int number = kFirstPreset; number <= kLastPreset; ++number)
        SetCheckBoxCaption(kPresetTexts[number - kFirstPreset], CheckBox(number));
    BitBtn1Click();
}

void TFormIntegration::BitBtn1Click()
{
    const TIntegrationChoice choice = DefaultIntegrationChoice();
    for (size_t i = 0; i < choice.FileTypes.size(); ++i)
        CheckBox(ShellFileTypes()[i].CheckBox)->setChecked(choice.FileTypes[i]);
    for (size_t i = 0; i < choice.Verbs.size(); ++i)
        CheckBox(ShellVerbs()[i].CheckBox)->setChecked(choice.Verbs[i]);
}

void TFormIntegration::BitBtn5Click() { SetAll(true); }

void TFormIntegration::BitBtn6Click() { SetAll(false); }

void TFormIntegration::SetAll(bool ticked)
{
    for (QCheckBox* box : m_fileTypes)
        box->setChecked(ticked);
    for (QCheckBox* box : m_presets)
        box->setChecked(ticked);
}

std::unique_ptr<QDialog> MakeFormIntegration() { return std::make_unique<TFormIntegration>(); }

void ConnectShellIntegration(TProgramWindows& windows, const std::string& program)
{
    auto* dialog = qobject_cast<TFormIntegration*>(windows.FormIntegration.get());
    if (!dialog)
        return;
    windows.FormMain->SetShellIntegration(
        {[dialog, program] { IntegrateThroughDialog(*dialog, program); }, [] { RemoveIntegration(); }});
}

void IntegrateThroughDialog(TFormIntegration& dialog, const std::string& program)
{
    if (RunModal(dialog) != QDialog::Accepted)
        return;
    IntegrateShell(dialog.Choice(), program, UserFileManagerFolders());
}

void RemoveIntegration() { RemoveShellIntegration(UserFileManagerFolders()); }

} // namespace palvex
