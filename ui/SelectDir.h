// TFormSelectDir: the folder chooser of the target folder. Its tree starts at a
// node that stands for the computer, with the file system's root and the home
// folder under it; a folder can be created on the way.
#pragma once

#include <QDialog>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace palvex {

class TFormSelectDir : public QDialog {
    Q_OBJECT
public:
    explicit TFormSelectDir(QWidget* parent = nullptr);

    // The selected folder's path; empty when the selected node has none (the computer).
    QString SelectedPath() const;
    // Selects the folder, opening the branches on the way. Raises
    // "Error setting path: "%s"" when there is no such folder.
    void SelectPath(const QString& path);

    QTreeWidget* ShellTreeView1 = nullptr;
    QPushButton* BitBtn1 = nullptr; // new folder
    QPushButton* BitBtn2 = nullptr; // OK
    QPushButton* BitBtn3 = nullptr; // Cancel

public slots:
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    void RefreshTree();
    void Populate(QTreeWidgetItem* node);
    void RefreshNode(QTreeWidgetItem* node);
    QTreeWidgetItem* AddFolderNode(QTreeWidgetItem* parent, const QString& name, const QString& path);

    QTreeWidgetItem* m_computer = nullptr;
    QTreeWidgetItem* m_root = nullptr;
    QTreeWidgetItem* m_home = nullptr;
};

} // namespace palvex
