#include "ui/Main.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSlider>
#include <QStyle>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <cerrno>

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/MakerInfo.h"
#include "framework/windows/ErrorBox.h"
#include "framework/windows/FrameworkColors.h"
#include "framework/windows/KVLibApp.h"
#include "framework/windows/LanguageSetters.h"
#include "framework/windows/ModalRunner.h"
#include "imageio/FileFormats.h"
#include "imageio/PictureRows.h"
#include "job/BatchRun.h"
#include "job/CommandLine.h"
#include "job/Presets.h"
#include "platform/Errors.h"
#include "platform/Files.h"
#include "ui/DesktopStart.h"
#include "ui/FilterIcons.h"
#include "ui/Image32.h"
#include "framework/windows/Labels.h"
#include "ui/OpenPictureDialog.h"
#include "ui/Progress.h"
#include "ui/SelectDir.h"
#include "ui/texts/InterfaceTexts.h"

// The language pictures live in the framework's static library, whose resource
// object nothing references; it must be registered by hand, outside any namespace.
static void InitFrameworkResources() { Q_INIT_RESOURCE(FrameworkWindows); }

namespace palvex {

namespace {

constexpr const char* kRegistryNode = "Palvex";

QString Q(const std::string& text) { return QString::fromStdString(text); }
std::string S(const QString& text) { return text.toStdString(); }

// Runs a handler and shows what it raises in the standard error report, so
// that no exception crosses Qt's signal code.
template <class Handler>
void Reported(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorReport(e.what());
    }
}

QLineEdit* NewEdit(QWidget* parent, const char* text, int minimumChars)
{
    auto* edit = new QLineEdit(QString::fromUtf8(text), parent);
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QLatin1Char('0')) * minimumChars + 12);
    return edit;
}

// A read-only path field on light grey that the tab key passes by.
QLineEdit* NewPathEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, QColor(0xE8, 0xE8, 0xE8));
    edit->setPalette(palette);
    return edit;
}

QSlider* NewSlider(QWidget* parent, int maximum, int tickInterval, int position)
{
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(1, maximum);
    slider->setTickInterval(tickInterval);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setPageStep(tickInterval);
    slider->setValue(position);
    return slider;
}

QHBoxLayout* Row(QVBoxLayout* column, std::initializer_list<QWidget*> widgets, bool stretch = true)
{
    auto* row = new QHBoxLayout;
    for (QWidget* widget : widgets)
        row->addWidget(widget);
    if (stretch)
        row->addStretch(1);
    column->addLayout(row);
    return row;
}

// A row of two edits between three labels, as "Minimum width" [0] "height" [0] "pixels".
void EditPairRow(QVBoxLayout* column, QWidget* parent, const char* text, int minimumChars, QLabel*& before,
                 QLineEdit*& first, QLabel*& between, QLineEdit*& second, QLabel*& after)
{
    before = NewLabel(parent);
    first = NewEdit(parent, text, minimumChars);
    between = NewLabel(parent);
    second = NewEdit(parent, text, minimumChars);
    after = NewLabel(parent);
    Row(column, {before, first, between, second, after});
}

QIcon ThemeIcon(const char* name, const QIcon& fallback = QIcon())
{
    return QIcon::fromTheme(QString::fromLatin1(name), fallback);
}

// A language entry's flag, and for its checked state the flag with a tick:
// styles that show a checked entry by sinking its icon show no check mark.
QIcon LanguageIcon(const QString& file)
{
    const QPixmap flag(file);
    QPixmap ticked(flag.size() * 2);
    ticked.fill(Qt::transparent);
    {
        QPainter painter(&ticked);
        painter.drawPixmap(ticked.rect(), flag);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal w = ticked.width();
        const QPointF tick[] = {{w * 0.45, w * 0.70}, {w * 0.62, w * 0.88}, {w * 0.97, w * 0.45}};
        for (const auto& [colour, width] : {std::pair{QColor(Qt::white), w * 0.22}, {QColor(0x10, 0x70, 0x10), w * 0.11}}) {
            painter.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(tick, 3);
        }
    }
    ticked.setDevicePixelRatio(2);
    QIcon icon(flag);
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Active, QIcon::Selected})
        icon.addPixmap(ticked, mode, QIcon::On);
    return icon;
}

QString PercentText(int position) { return QString::number(position) + QLatin1Char('%'); }

// The entry's path as the file system gave it; the caption may have lost
// bytes that are not UTF-8.
constexpr int kPathRole = Qt::UserRole;
// A selection's entry: the target folder of its own command line (its own folder).
constexpr int kTargetRole = Qt::UserRole + 1;

std::string EntryPath(const QTreeWidgetItem* item) { return item->data(0, kPathRole).toByteArray().toStdString(); }

QTreeWidgetItem* AddEntry(QTreeWidget* list, const std::string& path, const std::string& size)
{
    auto* item = new QTreeWidgetItem(list, QStringList{Q(path), QString(), Q(size)});
    item->setData(0, kPathRole, QByteArray::fromStdString(path));
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(0, Qt::Unchecked);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

} // namespace

// The run's settings, read from the controls each time the run asks.
class TFormMain::TControlSettings : public ISettingsSource {
public:
    explicit TControlSettings(const TFormMain& form) : m_form(form) {}
    ReductionSettings CurrentSettings() override
    {
        ReductionSettings settings = m_form.Settings();
        if (!m_form.m_entryTarget.empty())
            settings.TargetFolder = m_form.m_entryTarget;
        return settings;
    }

private:
    const TFormMain& m_form;
};

// The run's list: the list view's entries, read by position when visited.
class TFormMain::TListSource : public ISourceList {
public:
    TListSource(QTreeWidget* list, std::string& entryTarget) : m_list(list), m_entryTarget(entryTarget) {}
    int32_t Count() override { return m_list->topLevelItemCount(); }
    // The run asks for an entry before it asks for the settings it writes it
    // with: a selection's entry sets its own target folder for that moment.
    std::optional<TSourceEntry> EntryAt(int32_t position) override
    {
        const QTreeWidgetItem* item = m_list->topLevelItem(position);
        if (!item)
            return std::nullopt;
        m_entryTarget = item->data(0, kTargetRole).toByteArray().toStdString();
        return TSourceEntry{EntryPath(item), item->checkState(0) == Qt::Checked};
    }

private:
    QTreeWidget* m_list;
    std::string& m_entryTarget;
};

namespace {

class TNoProgress : public IProgressView {
public:
    void Show() override {}
    void Hide() override {}
    void SetBar(int32_t) override {}
    void SetLine(int32_t, const std::string&) override {}
};

} // namespace

TFormMain::TFormMain(std::vector<std::string> arguments, QWidget* parent)
    : QMainWindow(parent), m_arguments(std::move(arguments)), m_noProgress(std::make_unique<TNoProgress>())
{
    InitFrameworkResources();
    setObjectName(QStringLiteral("FormMain"));
    KVApplication1 = new TKVApplication(this);
    KVApplication1->RegistryNode = QString::fromLatin1(kRegistryNode);
    KVApplication1->WebPage = QString::fromLatin1(kPalvexWebPage);

    CreateControls();
    CreateMenus();
    m_settingsSource = std::make_unique<TControlSettings>(*this);
    m_listSource = std::make_unique<TListSource>(ListView1, m_entryTarget);

    // Texts in the language known so far, so that nothing shows a text number
    // before the first showing settles the language.
    Retranslate();
    resize(765, 596);
}

TFormMain::~TFormMain() = default;

void TFormMain::CreateControls()
{
    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* halves = new QHBoxLayout;
    halves->setContentsMargins(8, 8, 8, 8);
    halves->setSpacing(12);
    halves->addLayout(CreateSourceHalf(central), 1);
    halves->addLayout(CreateSettingsHalf(central), 1);
    outer->addLayout(halves, 1);
    outer->addWidget(CreateBottomBar(central));
    setCentralWidget(central);
    ConnectControls();
}

// Left half: the two folders and the list of source pictures.
QLayout* TFormMain::CreateSourceHalf(QWidget* central)
{
    auto* left = new QVBoxLayout;
    Label2 = NewLabel(central);
    Edit2 = NewPathEdit(central);
    BitBtn2 = new QToolButton(central);
    BitBtn2->setText(QStringLiteral("..."));
    Label1 = NewLabel(central);
    Edit1 = NewPathEdit(central);
    BitBtn1 = new QToolButton(central);
    BitBtn1->setText(QStringLiteral("..."));
    left->addWidget(Label2);
    Row(left, {Edit2, BitBtn2}, false);
    left->addWidget(Label1);
    Row(left, {Edit1, BitBtn1}, false);

    ListView1 = new QTreeWidget(central);
    ListView1->setColumnCount(3);
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListView1->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListView1->setAllColumnsShowFocus(true);
    QHeaderView* header = ListView1->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(0);
    // The file column starts at 270 and takes whatever the list gains, so the
    // sizes stay in sight; the dimension column is there but zero wide.
    header->resizeSection(0, 270);
    header->setSectionResizeMode(0, QHeaderView::Stretch);
    header->resizeSection(1, 0);
    header->setSectionResizeMode(1, QHeaderView::Fixed);
    header->resizeSection(2, 80);
    header->setSectionResizeMode(2, QHeaderView::Fixed);
    ListView1->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    left->addWidget(ListView1, 1);
    return left;
}

// Right half: the settings, then the preview.
QLayout* TFormMain::CreateSettingsHalf(QWidget* central)
{
    auto* right = new QVBoxLayout;
    right->setSpacing(4);
    Label3 = NewLabel(central);
    TrackBar1 = NewSlider(central, kMaxQuality, 10, 100);
    Label4 = NewLabel(central, true);
    Label6 = NewLabel(central);
    TrackBar2 = NewSlider(central, kMaxScalePercent, 50, 100);
    Label7 = NewLabel(central, true);
    // The value labels keep the width of their longest value, so the sliders stay put.
    for (QLabel* value : {Label4, Label7}) {
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("1000%")) + 4);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    right->addWidget(Label3);
    Row(right, {TrackBar1, Label4}, false);
    right->addWidget(Label6);
    Row(right, {TrackBar2, Label7}, false);

    EditPairRow(right, central, "0", 5, Label5, Edit3, Label8, Edit4, Label9);
    EditPairRow(right, central, "10000", 5, Label10, Edit5, Label11, Edit6, Label12);

    CheckBox4 = new QCheckBox(central);
    CheckBox5 = new QCheckBox(central);
    right->addWidget(CheckBox4);
    right->addWidget(CheckBox5);

    Label13 = NewLabel(central);
    ComboBoxEx1 = new QComboBox(central);
    for (int i = 0; i < kFilterCount; ++i)
        ComboBoxEx1->addItem(FilterIcon(i), QString());
    ComboBoxEx1->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    Row(right, {Label13, ComboBoxEx1});

    EditPairRow(right, central, "", 6, Label14, Edit7, Label15, Edit8, Label16);
    Label16->setText(QStringLiteral(".JPG"));

    CheckBox1 = new QCheckBox(central);
    CheckBox2 = new QCheckBox(central);
    CheckBox3 = new QCheckBox(central);
    CheckBox3->hide();
    right->addWidget(CheckBox1);
    right->addWidget(CheckBox2);

    auto* panel = new QFrame(central);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    PaintBackground(panel, Qt::black);
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(1, 1, 1, 1);
    Image321 = new TImage32(panel);
    panelLayout->addWidget(Image321);
    right->addWidget(panel, 1);
    return right;
}

// The bottom bar, dark blue, with the four buttons.
QWidget* TFormMain::CreateBottomBar(QWidget* central)
{
    auto* bar = new QWidget(central);
    PaintBackground(bar, kNavy);
    auto* barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(8, 6, 8, 6);
    BitBtn5 = new QPushButton(ThemeIcon("edit-select-all"), QString(), bar);
    BitBtn6 = new QPushButton(ThemeIcon("edit-select-none"), QString(), bar);
    BitBtn3 = new QPushButton(ThemeIcon("media-playback-start", style()->standardIcon(QStyle::SP_MediaPlay)),
                              QString(), bar);
    BitBtn4 = new QPushButton(ThemeIcon("application-exit", style()->standardIcon(QStyle::SP_DialogCloseButton)),
                              QString(), bar);
    BitBtn5->setEnabled(false);
    BitBtn6->setEnabled(false);
    barLayout->addWidget(BitBtn5);
    barLayout->addWidget(BitBtn6);
    barLayout->addStretch(1);
    barLayout->addWidget(BitBtn3);
    barLayout->addWidget(BitBtn4);
    return bar;
}

void TFormMain::ConnectControls()
{
    // Exit is the window's cancel button: Esc presses it.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, BitBtn4, &QPushButton::click);

    connect(BitBtn1, &QToolButton::clicked, this, &TFormMain::BitBtn1Click);
    connect(BitBtn2, &QToolButton::clicked, this, &TFormMain::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TFormMain::BitBtn3Click);
    connect(BitBtn4, &QPushButton::clicked, this, &TFormMain::BitBtn4Click);
    connect(BitBtn5, &QPushButton::clicked, this, &TFormMain::BitBtn5Click);
    connect(BitBtn6, &QPushButton::clicked, this, &TFormMain::BitBtn6Click);
    connect(TrackBar1, &QSlider::valueChanged, this, &TFormMain::TrackBar1Change);
    connect(TrackBar2, &QSlider::valueChanged, this, &TFormMain::TrackBar2Change);
    connect(ComboBoxEx1, &QComboBox::currentIndexChanged, this, &TFormMain::ComboBoxEx1Change);
    connect(ListView1->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this](const QItemSelection& selected, const QItemSelection& deselected) {
                const auto rows = [](const QItemSelection& selection) {
                    std::vector<int> result;
                    for (const QModelIndex& index : selection.indexes())
                        if (index.column() == 0)
                            result.push_back(index.row());
                    return result;
                };
                OnSelectionChanged(rows(selected), rows(deselected));
            });
    TrackBar1Change();
    TrackBar2Change();
}

void TFormMain::CreateMenus()
{
    Soubor = menuBar()->addMenu(QString());
    IntegrovatdoOS1 = Soubor->addAction(QString(), this, &TFormMain::IntegrovatdoOS1Click);
    Zruitintegraci1 = Soubor->addAction(QString(), this, &TFormMain::Zruitintegraci1Click);
    Soubor->addSeparator();
    Konec1 = Soubor->addAction(ThemeIcon("application-exit"), QString(), this, &TFormMain::Konec1Click);

    Predvolby = menuBar()->addMenu(QString());
    for (const TPreset& preset : Presets()) {
        QAction* item = Predvolby->addAction(QString(), this, [this, &preset] { ApplyPresetItem(preset); });
        item->setObjectName(QString::fromLatin1(preset.ItemName));
        PresetItems.push_back(item);
        if (preset.SeparatorAfter)
            Predvolby->addSeparator();
    }

    Jazyk = menuBar()->addMenu(QString());
    auto* languages = new QActionGroup(this);
    MenuCzech = Jazyk->addAction(LanguageIcon(QStringLiteral(":/framework/czech.png")), QString(), this,
                                 &TFormMain::MenuCzechClick);
    MenuEnglish = Jazyk->addAction(LanguageIcon(QStringLiteral(":/framework/english.png")), QString(), this,
                                   &TFormMain::MenuEnglishClick);
    for (QAction* item : {MenuCzech, MenuEnglish}) {
        item->setCheckable(true);
        languages->addAction(item);
    }

    Napoveda = menuBar()->addMenu(QString());
    MenuHelp = Napoveda->addAction(ThemeIcon("help-browser"), QString(), this, &TFormMain::MenuHelpClick);
    Napoveda->addSeparator();
    About = Napoveda->addAction(ThemeIcon("help-about"), QString(), this, &TFormMain::AboutClick);
}

QAction* TFormMain::PresetItem(const char* itemName) const
{
    for (QAction* item : PresetItems)
        if (item->objectName() == QLatin1String(itemName))
            return item;
    return nullptr;
}

void TFormMain::SetProgressWindow(TFormProgress* progress) { m_progress = progress; }

void TFormMain::SetShellIntegration(TShellIntegrationHooks hooks) { m_shell = std::move(hooks); }

bool TFormMain::Running() const { return m_run && m_run->Running(); }

ReductionSettings TFormMain::Settings() const
{
    ReductionSettings settings;
    settings.SourceFolder = S(Edit2->text());
    settings.TargetFolder = S(Edit1->text());
    settings.SetQuality(TrackBar1->value());
    settings.SetScalePercent(TrackBar2->value());
    settings.MinWidth = S(Edit3->text());
    settings.MinHeight = S(Edit4->text());
    settings.MaxWidth = S(Edit5->text());
    settings.MaxHeight = S(Edit6->text());
    settings.KeepAspectRatio = CheckBox4->isChecked();
    settings.DetectPortrait = CheckBox5->isChecked();
    settings.SetFilterIndex(ComboBoxEx1->currentIndex());
    settings.NamePrefix = S(Edit7->text());
    settings.NameSuffix = S(Edit8->text());
    settings.AddParameters = CheckBox1->isChecked();
    settings.SequentialNames = CheckBox2->isChecked();
    settings.Loading = m_loading;
    return settings;
}

void TFormMain::SetSettings(const ReductionSettings& settings)
{
    Edit2->setText(Q(settings.SourceFolder));
    Edit1->setText(Q(settings.TargetFolder));
    TrackBar1->setValue(settings.Quality());
    TrackBar2->setValue(settings.ScalePercent());
    Edit3->setText(Q(settings.MinWidth));
    Edit4->setText(Q(settings.MinHeight));
    Edit5->setText(Q(settings.MaxWidth));
    Edit6->setText(Q(settings.MaxHeight));
    CheckBox4->setChecked(settings.KeepAspectRatio);
    CheckBox5->setChecked(settings.DetectPortrait);
    ComboBoxEx1->setCurrentIndex(settings.FilterIndex());
    Edit7->setText(Q(settings.NamePrefix));
    Edit8->setText(Q(settings.NameSuffix));
    CheckBox1->setChecked(settings.AddParameters);
    CheckBox2->setChecked(settings.SequentialNames);
    m_loading = settings.Loading;
}

void TFormMain::Retranslate()
{
    FillMainWindowTexts(CurrentLanguage);

    const std::pair<int, QLabel*> labels[] = {
        {2, Label2},   {1, Label1},   {3, Label3},   {6, Label6},   {5, Label5},   {8, Label8},  {9, Label9},
        {10, Label10}, {11, Label11}, {12, Label12}, {13, Label13}, {14, Label14}, {15, Label15},
    };
    for (const auto& [number, label] : labels)
        SetLabelCaption(number, label);
    const std::pair<int, QCheckBox*> checkBoxes[] = {
        {17, CheckBox1}, {18, CheckBox2}, {19, CheckBox3}, {20, CheckBox4}, {21, CheckBox5},
    };
    for (const auto& [number, checkBox] : checkBoxes)
        SetCheckBoxCaption(number, checkBox);
    const std::pair<int, QPushButton*> buttons[] = {{24, BitBtn3}, {25, BitBtn4}, {26, BitBtn5}, {27, BitBtn6}};
    for (const auto& [number, button] : buttons)
        SetButtonCaption(number, button);
    for (int i = 0; i < kFilterCount; ++i)
        ComboBoxEx1->setItemText(i, QText(28 + i));

    SetMenuCaption(33, Soubor);
    SetMenuCaption(34, IntegrovatdoOS1);
    SetMenuCaption(35, Zruitintegraci1);
    SetMenuCaption(36, Konec1);
    SetMenuCaption(37, Predvolby);
    const std::span<const TPreset> presets = Presets();
    // The entries opt1 to opt12 and opt100 now, base4 and base16 after the other menus.
    const auto isBase = [](const TPreset& preset) { return std::string_view(preset.ItemName).starts_with("base"); };
    for (size_t i = 0; i < presets.size(); ++i)
        if (!isBase(presets[i]))
            SetMenuCaption(presets[i].CaptionText, PresetItems[i]);
    SetMenuCaption(47, Napoveda);
    SetMenuCaption(60, MenuHelp);
    SetMenuCaption(48, About);
    SetMenuCaption(53, Jazyk);
    SetMenuCaption(54, MenuCzech);
    SetMenuCaption(55, MenuEnglish);
    for (size_t i = 0; i < presets.size(); ++i)
        if (isBase(presets[i]))
            SetMenuCaption(presets[i].CaptionText, PresetItems[i]);

    QTreeWidgetItem* header = ListView1->headerItem();
    for (int column = 0; column < 3; ++column)
        header->setText(column, QText(50 + column));
    // The hidden column keeps no caption.
    header->setText(1, QString());

    KVApplication1->RefreshTexts();
}

void TFormMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - frameGeometry().center() + pos());
    // After the show has finished: the start-up may open modal windows and run a batch.
    QMetaObject::invokeMethod(this, &TFormMain::FormShow, Qt::QueuedConnection);
}

void TFormMain::FormShow()
{
    Reported([this] {
        KVApplication1->StartUp();
        KVApplication1->AboutLines
            << QStringLiteral("Korvane Palvex, %1").arg(QString::fromUtf8(kMakerCompany))
            << QStringLiteral("JPEG: libjpeg-turbo, after the Independent JPEG Group's software")
            << QStringLiteral("PNG: libpng and zlib") << QStringLiteral("TIFF and GIF: LibTIFF and GIFLIB")
            << QStringLiteral("All rights reserved.");
        // The start-up has read the store: tell what it had to put aside.
        ShowSettingsDamage(this);
        MenuCzech->setChecked(CurrentLanguage == kLanguageCzech);
        MenuEnglish->setChecked(CurrentLanguage == kLanguageEnglish);
        Retranslate();
        ComboBoxEx1->setCurrentIndex(0);
        m_startedUp = true;
        // A file manager's "Open with" gives a path and nothing else: the person
        // wants to see it, not to have files written without asking.
        if (!m_selection.empty())
            RunSelections();
        else if (m_arguments.size() == 1 && !m_arguments[0].starts_with("--"))
            OpenSourcePath(m_arguments[0]);
        else if (!m_arguments.empty())
            RunCommandLine();
    });
}

void TFormMain::RunCommandLine()
{
    setWindowState(windowState() | Qt::WindowMinimized);
    ReductionSettings settings = Settings();
    std::vector<std::string> entries;
    try {
        entries = PrepareUnattendedRun(m_arguments, settings);
    } catch (...) {
        // The options before the failing one stay applied.
        SetSettings(settings);
        throw;
    }
    SetSettings(settings);
    ++m_listGeneration;
    ListView1->clear();
    for (const std::string& entry : entries)
        AddEntry(ListView1, entry, std::string());
    UpdateSelectionButtons();
    BitBtn5Click();
    Start();
    // Closed also after a stop: a close asked during the run lands here.
    close();
}

void TFormMain::BitBtn1Click()
{
    TFormSelectDir chooser(this);
    if (RunModal(chooser) != QDialog::Accepted)
        return;
    QString path = chooser.SelectedPath();
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    Edit1->setText(path + QLatin1Char('/'));
}

void TFormMain::BitBtn2Click()
{
    TOpenPictureDialog dialog(this, m_loading);
    QString start = Edit2->text();
    if (start.isEmpty() || !QFileInfo(start).isDir()) {
        start = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
        if (!QFileInfo(start).isDir())
            start = QDir::homePath();
    }
    dialog.setDirectory(start);
    if (RunModal(dialog) == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const std::string folder = ExtractFileDir(S(dialog.selectedFiles().first()));
        ListSourceFolder(folder + kPathDelimiter);
    }
    UpdateSelectionButtons();
}

void TFormMain::ListSourceFolder(const std::string& folder)
{
    Edit2->setText(Q(folder));
    if (Edit1->text().isEmpty())
        Edit1->setText(Q(folder));
    const int generation = ++m_listGeneration;
    ++m_listingDepth;
    ListView1->clear();
    for (const TSearchRec& found : FindFiles(folder, "*.*")) {
        // Regular files only: a FIFO, socket or device named like a picture
        // would block whoever opens it, and a folder is no picture.
        if ((found.Attr & (faDirectory | faDevice | faSymLink)) != 0)
            continue;
        if (!IsAcceptedExtension(ExtractFileExt(found.Name)))
            continue;
        AddEntry(ListView1, folder + found.Name, std::to_string(found.Size / 1024) + " kB");
        QCoreApplication::processEvents();
        // A newer listing made meanwhile owns the list now; a close waits for no more.
        if (generation != m_listGeneration || m_closeAsked)
            break;
    }
    --m_listingDepth;
    UpdateSelectionButtons();
    CloseIfAsked();
}

void TFormMain::OpenSourcePath(const std::string& given)
{
    // Made clean and absolute; bytes that are no text stay as they are and
    // are asked about through the listing and the loader only.
    std::string path = given;
    const QString text = QFile::decodeName(QByteArray::fromStdString(given));
    const bool asText = !text.isEmpty() && QFile::encodeName(text).toStdString() == given;
    const QFileInfo info(text);
    if (asText)
        path = QFile::encodeName(QDir::cleanPath(info.absoluteFilePath())).toStdString();
    else if (!path.empty() && !IsPathDelimiter(path.front()))
        path = QFile::encodeName(QDir::currentPath()).toStdString() + kPathDelimiter + path;

    if (asText && info.isDir()) {
        ListSourceFolder(path.ends_with(kPathDelimiter) ? path : path + kPathDelimiter);
        return;
    }
    // A path that is not there changes neither folder. Said plainly: the
    // loader would first complain of the extension.
    if (asText && !info.exists())
        throw EFOpenError(Format(kSFOpenError, path.c_str(), SystemErrorText(ENOENT).c_str()));
    ListSourceFolder(ExtractFileDir(path) + kPathDelimiter);
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView1->topLevelItem(i);
        if (EntryPath(item) == path) {
            ListView1->setCurrentItem(item);
            ListView1->scrollToItem(item);
            return;
        }
    }
    // Not listed (no picture, a FIFO, a device): the loader says why, opening nothing that could block.
    LoadPictureFile(Image321->Bitmap(), path, m_loading);
    Image321->Bitmap().SetStretchFilter(FilterForIndex(ComboBoxEx1->currentIndex()));
    Image321->Changed();
}

void TFormMain::UpdateSelectionButtons()
{
    const bool any = ListView1->topLevelItemCount() > 0;
    BitBtn5->setEnabled(any);
    BitBtn6->setEnabled(any);
}

void TFormMain::Start()
{
    m_entryTarget.clear();
    if (!m_run) {
        IProgressView& progress = m_progress ? static_cast<IProgressView&>(*m_progress) : *m_noProgress;
        m_run = std::make_unique<TBatchRun>(*m_settingsSource, *m_listSource, progress,
                                            [] { QCoreApplication::processEvents(); });
    }
    StartRun(*m_run, *m_settingsSource, [this](const std::string& message) {
        QMessageBox box(QMessageBox::Information, Q(ApplicationTitle()), Q(message), QMessageBox::Ok, this);
        RunModal(box);
    });
}

bool TFormMain::QueueSelection(std::vector<std::vector<std::string>> commandLines)
{
    if (!m_takesSelections)
        return false;
    const bool idle = m_selection.empty() && !Running();
    for (std::vector<std::string>& line : commandLines)
        m_selection.push_back(std::move(line));
    // Before the first showing, or during a run, the queue is taken up where it runs.
    if (m_startedUp && idle && !m_selectionRunning)
        QMetaObject::invokeMethod(this, [this] { Reported([this] { RunSelections(); }); }, Qt::QueuedConnection);
    return true;
}

void TFormMain::RunSelections()
{
    if (m_selectionRunning || m_selection.empty())
        return;
    m_selectionRunning = true;
    setWindowState(windowState() | Qt::WindowMinimized);
    const ReductionSettings base = Settings();
    bool failed = false;
    // Selections that came while a run was under way run after it; those with
    // the same options make one run.
    while (!m_selection.empty() && !m_closeAsked) {
        const auto options = [](const std::vector<std::string>& line) {
            std::vector<std::string> words(line.begin() + std::min<size_t>(2, line.size()), line.end());
            if (!words.empty() && words.back() == "/folder")
                words.pop_back();
            return words;
        };
        const std::vector<std::string> chosen = options(m_selection.front());
        std::vector<std::vector<std::string>> lines;
        for (auto it = m_selection.begin(); it != m_selection.end();) {
            if (options(*it) == chosen) {
                lines.push_back(std::move(*it));
                it = m_selection.erase(it);
            } else {
                ++it;
            }
        }
        ++m_listGeneration;
        ListView1->clear();
        std::optional<ReductionSettings> first;
        for (const std::vector<std::string>& line : lines) {
            ReductionSettings settings = base;
            try {
                for (const std::string& entry : PrepareUnattendedRun(line, settings))
                    AddEntry(ListView1, entry, std::string())
                        ->setData(0, kTargetRole, QByteArray::fromStdString(settings.TargetFolder));
            } catch (const std::exception& e) {
                // A folder that cannot be listed spoils only its own part of the selection.
                ShowErrorReport(e.what());
                failed = true;
                continue;
            }
            if (!first)
                first = settings;
        }
        if (!first)
            continue;
        SetSettings(*first);
        UpdateSelectionButtons();
        BitBtn5Click();
        try {
            Start();
        } catch (const std::exception& e) {
            ShowErrorReport(e.what());
            failed = true;
        }
    }
    m_takesSelections = false;
    m_selectionRunning = false;
    m_selection.clear();
    // As after a command line: a run that failed leaves the window open with its report.
    if (!failed || m_closeAsked)
        close();
}

void TFormMain::BitBtn3Click()
{
    Reported([this] { Start(); });
    CloseIfAsked();
}

void TFormMain::CloseIfAsked()
{
    if (m_closeAsked && !Running() && m_listingDepth == 0)
        close();
}

void TFormMain::closeEvent(QCloseEvent* event)
{
    // Work under way finishes its current picture (or entry) first; the
    // window closes when it has returned.
    if (Running() || m_listingDepth > 0) {
        m_closeAsked = true;
        if (m_run)
            m_run->RequestStop();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void TFormMain::BitBtn4Click() { close(); }

void TFormMain::Konec1Click() { close(); }

void TFormMain::BitBtn5Click()
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Checked);
}

void TFormMain::BitBtn6Click()
{
    for (int i = 0; i < ListView1->topLevelItemCount(); ++i)
        ListView1->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
}

void TFormMain::TrackBar1Change() { Label4->setText(PercentText(TrackBar1->value())); }

void TFormMain::TrackBar2Change() { Label7->setText(PercentText(TrackBar2->value())); }

void TFormMain::ComboBoxEx1Change()
{
    Image321->Bitmap().SetStretchFilter(FilterForIndex(ComboBoxEx1->currentIndex()));
    Image321->Changed();
}

void TFormMain::OnSelectionChanged(const std::vector<int>& selectedRows, const std::vector<int>& deselectedRows)
{
    // Every entry whose selection changed is loaded in turn; when one entry
    // replaces another, only the new one, which is the one left on view.
    for (int row : selectedRows.empty() ? deselectedRows : selectedRows)
        ListView1SelectItem(ListView1->topLevelItem(row));
}

void TFormMain::ListView1SelectItem(QTreeWidgetItem* item)
{
    if (!item)
        return;
    try {
        // The load opens regular files only and never waits on a FIFO or device.
        LoadPictureFile(Image321->Bitmap(), EntryPath(item), m_loading);
    } catch (const std::exception& e) {
        // Reported once the list has finished its own handling of the click;
        // the preview keeps its picture.
        QTimer::singleShot(0, this, [message = std::string(e.what())] { ShowErrorReport(message); });
        return;
    }
    Image321->Bitmap().SetStretchFilter(FilterForIndex(ComboBoxEx1->currentIndex()));
    Image321->Changed();
}

void TFormMain::ApplyPresetItem(const TPreset& preset)
{
    ReductionSettings settings = Settings();
    ApplyPreset(preset, settings);
    SetSettings(settings);
}

void TFormMain::ChooseLanguage(int language)
{
    MenuCzech->setChecked(language == kLanguageCzech);
    MenuEnglish->setChecked(language == kLanguageEnglish);
    CurrentLanguage = language;
    Reported([] { SaveLanguage(); });
    Retranslate();
}

void TFormMain::MenuCzechClick() { ChooseLanguage(kLanguageCzech); }

void TFormMain::MenuEnglishClick() { ChooseLanguage(kLanguageEnglish); }

void TFormMain::MenuHelpClick() { OpenAddress(kPalvexWebPage); }

void TFormMain::AboutClick() { KVApplication1->ShowAbout(); }

void TFormMain::IntegrovatdoOS1Click()
{
    if (m_shell.Integrate)
        Reported(m_shell.Integrate);
}

void TFormMain::Zruitintegraci1Click()
{
    if (m_shell.RemoveIntegration)
        Reported(m_shell.RemoveIntegration);
}

} // namespace palvex
