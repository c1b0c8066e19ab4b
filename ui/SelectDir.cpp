#include "ui/SelectDir.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "framework/windows/LanguageSetters.h"
#include "framework/windows/ModalRunner.h"
#include "platform/Errors.h"
#include "ui/texts/InterfaceTexts.h"

namespace palvex {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kPopulatedRole = Qt::UserRole + 1;

QIcon ThemeIcon(const char* name, QFileIconProvider::IconType fallback)
{
    return QIcon::fromTheme(QString::fromLatin1(name), QFileIconProvider().icon(fallback));
}

// The path without one trailing separator, so that a name can follow a "/".
QString WithoutTrailingSeparator(QString path)
{
    if (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

TFormSelectDir::TFormSelectDir(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormSelectDir"));
    auto* layout = new QVBoxLayout(this);

    ShellTreeView1 = new QTreeWidget(this);
    ShellTreeView1->setHeaderHidden(true);
    ShellTreeView1->setRootIsDecorated(false); // the computer node stands alone, always open
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    ShellTreeView1->setContextMenuPolicy(Qt::NoContextMenu);
    ShellTreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(ShellTreeView1, &QTreeWidget::itemExpanded, this, &TFormSelectDir::Populate);
    connect(ShellTreeView1, &QTreeWidget::itemSelectionChanged, this,
            [this] { BitBtn2->setEnabled(!SelectedPath().isEmpty()); });
    layout->addWidget(ShellTreeView1, 1);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = new QPushButton(ThemeIcon("folder-new", QFileIconProvider::Folder), QString(), this);
    BitBtn1->setAutoDefault(false);
    BitBtn2 = new QPushButton(this);
    BitBtn2->setDefault(true);
    BitBtn3 = new QPushButton(this);
    BitBtn3->setAutoDefault(false);
    buttons->addWidget(BitBtn1);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn2);
    buttons->addWidget(BitBtn3);
    layout->addLayout(buttons);

    connect(BitBtn1, &QPushButton::clicked, this, &TFormSelectDir::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::accept);
    connect(BitBtn3, &QPushButton::clicked, this, &QDialog::reject);

    resize(474, 448);
}

void TFormSelectDir::FormShow()
{
    FillSelectDirTexts(CurrentLanguage);
    setWindowTitle(QText(810));
    SetButtonCaption(811, BitBtn1);
    SetButtonCaption(812, BitBtn2);
    SetButtonCaption(813, BitBtn3);
    RefreshTree();
}

void TFormSelectDir::showEvent(QShowEvent* event)
{
    FormShow();
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

QTreeWidgetItem* TFormSelectDir::AddFolderNode(QTreeWidgetItem* parent, const QString& name, const QString& path)
{
    auto* node = new QTreeWidgetItem(parent, QStringList(name));
    node->setData(0, kPathRole, path);
    node->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Folder));
    // Whether it holds folders is known once it is opened.
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return node;
}

void TFormSelectDir::RefreshTree()
{
    ShellTreeView1->clear();
    m_computer = new QTreeWidgetItem(ShellTreeView1, QStringList(QSysInfo::machineHostName()));
    m_computer->setIcon(0, QFileIconProvider().icon(QFileIconProvider::Computer));
    m_computer->setData(0, kPopulatedRole, true);
    m_root = AddFolderNode(m_computer, QStringLiteral("/"), QStringLiteral("/"));
    m_root->setIcon(0, ThemeIcon("drive-harddisk", QFileIconProvider::Drive));
    const QString home = QDir::homePath();
    m_home = AddFolderNode(m_computer, QDir(home).dirName(), home);
    m_home->setIcon(0, ThemeIcon("user-home", QFileIconProvider::Folder));
    m_computer->setExpanded(true);
    ShellTreeView1->setCurrentItem(m_home);
}

void TFormSelectDir::Populate(QTreeWidgetItem* node)
{
    if (node->data(0, kPopulatedRole).toBool())
        return;
    node->setData(0, kPopulatedRole, true);
    const QString path = node->data(0, kPathRole).toString();
    // Folders only; hidden ones stay out of sight, as in the file managers.
    const QFileInfoList folders =
        QDir(path).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QFileInfo& folder : folders)
        AddFolderNode(node, folder.fileName(), folder.absoluteFilePath());
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

void TFormSelectDir::RefreshNode(QTreeWidgetItem* node)
{
    if (node == m_computer)
        return;
    const bool expanded = node->isExpanded();
    qDeleteAll(node->takeChildren());
    node->setData(0, kPopulatedRole, false);
    node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    if (expanded)
        Populate(node);
}

QString TFormSelectDir::SelectedPath() const
{
    const QTreeWidgetItem* node = ShellTreeView1->currentItem();
    return node ? node->data(0, kPathRole).toString() : QString();
}

void TFormSelectDir::SelectPath(const QString& path)
{
    const auto fail = [&path] { throw Exception(Format("Error setting path: \"%s\"", path.toUtf8().constData())); };
    const QString clean = QDir::cleanPath(path);
    if (!clean.startsWith(QLatin1Char('/')) || !QFileInfo(clean).isDir())
        fail();
    // Inside the home folder the walk starts there, anywhere else at the root.
    const QString home = WithoutTrailingSeparator(m_home->data(0, kPathRole).toString());
    QTreeWidgetItem* node = m_root;
    QString rest = clean.mid(1);
    if (clean == home || clean.startsWith(home + QLatin1Char('/'))) {
        node = m_home;
        rest = clean.mid(home.size() + 1);
    }
    QString nodePath = WithoutTrailingSeparator(node->data(0, kPathRole).toString());
    for (const QString& name : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        Populate(node);
        nodePath += QLatin1Char('/') + name;
        QTreeWidgetItem* next = nullptr;
        for (int i = 0; i < node->childCount() && !next; ++i)
            if (node->child(i)->text(0) == name)
                next = node->child(i);
        // A hidden folder is not listed but can still be chosen by its path.
        if (!next)
            next = AddFolderNode(node, name, nodePath);
        node->setExpanded(true);
        node = next;
    }
    ShellTreeView1->setCurrentItem(node);
    ShellTreeView1->scrollToItem(node);
}

void TFormSelectDir::BitBtn1Click()
{
    const QString selected = SelectedPath();
    if (selected.isEmpty())
        return;
    QInputDialog prompt(this);
    prompt.setWindowTitle(QText(814));
    prompt.setLabelText(QText(815));
    prompt.setTextValue(QString());
    const QString name = RunModal(prompt) == QDialog::Accepted ? prompt.textValue() : QString();
    const QString base = WithoutTrailingSeparator(selected);
    if (!name.isEmpty())
        QDir().mkdir(base + QLatin1Char('/') + name); // a refusal is not reported here
    if (QTreeWidgetItem* node = ShellTreeView1->currentItem())
        RefreshNode(node);
    try {
        SelectPath(base + QLatin1Char('/') + name);
    } catch (const std::exception& e) {
        ShowErrorReport(e.what());
    }
    ShellTreeView1->setFocus();
}

} // namespace palvex
