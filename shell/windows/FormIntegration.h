// TFormIntegration: the modal dialog that chooses the file types, folders and
// presets of the context-menu entries. It writes nothing itself; the File
// menu's Integrate reads its check boxes after it closes with OK. Made once at
// start-up and shown again for each integration, always from the default choice.
#pragma once

#include <QDialog>

#include <array>
#include <memory>
#include <string>

#include "shell/ShellVerbs.h"

class QCheckBox;
class QLabel;
class QPushButton;

namespace palvex {

class TFormIntegration : public QDialog {
    Q_OBJECT
public:
    explicit TFormIntegration(QWidget* parent = nullptr);

    // CheckBox1 to CheckBox41 (file types) and CheckBox49 to CheckBox63 (presets); null for other numbers.
    QCheckBox* CheckBox(int number) const;
    // The ticked file types in list order and presets in table order, as the boxes are now.
    TIntegrationChoice Choice() const;

    QLabel* Label1 = nullptr; // above the file types
    QLabel* Label2 = nullptr; // above the presets
    QPushButton* BitBtn1 = nullptr; // default choice
    QPushButton* BitBtn5 = nullptr; // select all
    QPushButton* BitBtn6 = nullptr; // select none
    QPushButton* BitBtn2 = nullptr; // OK
    QPushButton* BitBtn3 = nullptr; // Cancel

public slots:
    void FormShow();
    void BitBtn1Click();
    void BitBtn5Click();
    void BitBtn6Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    static constexpr int kFirstPreset = 49;
    static constexpr int kLastPreset = 63;
    void SetAll(bool ticked);

    std::array<QCheckBox*, kShellFileTypeCount> m_fileTypes{}; // by check-box number - 1
    std::array<QCheckBox*, kShellVerbCount> m_presets{};       // by check-box number - 49
};

struct TProgramWindows;

// The dialog in its place among the program's windows (CreateProgramWindows' maker).
std::unique_ptr<QDialog> MakeFormIntegration();
// Gives the main window's File-menu entries their work over the program's
// dialog; program: the path the verbs' command lines start.
void ConnectShellIntegration(TProgramWindows& windows, const std::string& program);

// IntegrovatdoOS1Click: the dialog; with OK every verb removed and those of the
// ticked boxes written with program in their command lines, then the file
// managers' entries made to match, in the person's folders.
void IntegrateThroughDialog(TFormIntegration& dialog, const std::string& program);
// Zruitintegraci1Click: every verb and every file manager entry of Palvex removed.
void RemoveIntegration();

} // namespace palvex
