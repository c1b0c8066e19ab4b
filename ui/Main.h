// TFormMain: the main window. It holds the settings of a run in its controls,
// lists the source pictures, previews the selected one, starts the batch run
// and, when the program has arguments, runs it unattended.
#pragma once

#include <QMainWindow>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "job/ReductionSettings.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLayout;
class QLineEdit;
class QMenu;
class QPushButton;
class QSlider;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace palvex {

class IProgressView;
class TBatchRun;
class TFormProgress;
class TImage32;
class TKVApplication;
struct TPreset;

// What the File menu's two integration entries do. The program sets them;
// until then the entries do nothing.
struct TShellIntegrationHooks {
    std::function<void()> Integrate;
    std::function<void()> RemoveIntegration;
};

class TFormMain : public QMainWindow {
    Q_OBJECT
public:
    // arguments: the program's arguments after its path. The first showing
    // opens a lone path in the window and runs anything else unattended.
    explicit TFormMain(std::vector<std::string> arguments = {}, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The window the batch run shows; created after this one, at start-up.
    void SetProgressWindow(TFormProgress* progress);
    void SetShellIntegration(TShellIntegrationHooks hooks);

    // The settings as the controls hold them, and the controls set from
    // settings. How pictures are loaded has no control: the window keeps it,
    // for its runs and its previews alike.
    ReductionSettings Settings() const;
    void SetSettings(const ReductionSettings& settings);
    // True while a batch run is under way.
    bool Running() const;

    // A selection of a file manager's entry: one command line in the usual form
    // per picture or folder ("--", the path, the options, /folder for a folder).
    // The lines with the same options are one unattended run, every file written
    // beside its own picture (in its folder); the window closes after the last.
    // Lines queued during a run run after it. False once the window takes no
    // more: the caller runs them itself.
    bool QueueSelection(std::vector<std::vector<std::string>> commandLines);

    // Fills the main window's texts for the current language and puts them on the controls.
    void Retranslate();

    TKVApplication* KVApplication1 = nullptr;

    QLabel* Label1 = nullptr;  // target heading
    QLabel* Label2 = nullptr;  // source heading
    QLineEdit* Edit1 = nullptr; // target folder
    QLineEdit* Edit2 = nullptr; // source folder
    QToolButton* BitBtn1 = nullptr; // "..." target
    QToolButton* BitBtn2 = nullptr; // "..." source
    QTreeWidget* ListView1 = nullptr;

    QLabel* Label3 = nullptr;
    QSlider* TrackBar1 = nullptr; // quality
    QLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    QSlider* TrackBar2 = nullptr; // scale
    QLabel* Label7 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit3 = nullptr; // minimum width
    QLabel* Label8 = nullptr;
    QLineEdit* Edit4 = nullptr; // minimum height
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLineEdit* Edit5 = nullptr; // maximum width
    QLabel* Label11 = nullptr;
    QLineEdit* Edit6 = nullptr; // maximum height
    QLabel* Label12 = nullptr;
    QCheckBox* CheckBox4 = nullptr; // keep aspect ratio
    QCheckBox* CheckBox5 = nullptr; // detect portrait
    QLabel* Label13 = nullptr;
    QComboBox* ComboBoxEx1 = nullptr; // filter
    QLabel* Label14 = nullptr;
    QLineEdit* Edit7 = nullptr; // before the name
    QLabel* Label15 = nullptr;
    QLineEdit* Edit8 = nullptr; // after the name
    QLabel* Label16 = nullptr;  // ".JPG"
    QCheckBox* CheckBox1 = nullptr; // add parameters
    QCheckBox* CheckBox2 = nullptr; // sequential names
    QCheckBox* CheckBox3 = nullptr; // HTML page: kept hidden, does nothing
    TImage32* Image321 = nullptr;

    QPushButton* BitBtn3 = nullptr; // Start
    QPushButton* BitBtn4 = nullptr; // Exit
    QPushButton* BitBtn5 = nullptr; // Select all
    QPushButton* BitBtn6 = nullptr; // Select none

    QMenu* Soubor = nullptr;
    QAction* IntegrovatdoOS1 = nullptr;
    QAction* Zruitintegraci1 = nullptr;
    QAction* Konec1 = nullptr;
    QMenu* Predvolby = nullptr;
    std::vector<QAction*> PresetItems; // in the presets' order; objectName is the item name
    QMenu* Jazyk = nullptr;
    QAction* MenuCzech = nullptr;
    QAction* MenuEnglish = nullptr;
    QMenu* Napoveda = nullptr;
    QAction* MenuHelp = nullptr;
    QAction* About = nullptr;

    // The menu entry of a preset by its item name ("opt1"), or null.
    QAction* PresetItem(const char* itemName) const;

public slots:
    void FormShow();
    void BitBtn1Click();
    void BitBtn2Click();
    void BitBtn3Click();
    void BitBtn4Click();
    void BitBtn5Click();
    void BitBtn6Click();
    void TrackBar1Change();
    void TrackBar2Change();
    void ComboBoxEx1Change();
    void Konec1Click();
    void MenuHelpClick();
    void AboutClick();
    void MenuCzechClick();
    void MenuEnglishClick();
    void IntegrovatdoOS1Click();
    void Zruitintegraci1Click();

    // The source listing of a folder (ending with a separator), as after a
    // choice in the open-picture dialog.
    void ListSourceFolder(const std::string& folder);
    // A picture or folder handed over by "Open with": its folder (or the
    // folder) listed and the picture selected, so previewed. Nothing is written.
    void OpenSourcePath(const std::string& path);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class TControlSettings;
    class TListSource;

    void CreateControls();
    QLayout* CreateSourceHalf(QWidget* central);
    QLayout* CreateSettingsHalf(QWidget* central);
    QWidget* CreateBottomBar(QWidget* central);
    void ConnectControls();
    void CreateMenus();
    void ApplyPresetItem(const TPreset& preset);
    void ChooseLanguage(int language);
    void RunCommandLine();
    void RunSelections();
    // The Start button's work; errors leave it.
    void Start();
    void UpdateSelectionButtons();
    void OnSelectionChanged(const std::vector<int>& selectedRows, const std::vector<int>& deselectedRows);
    void ListView1SelectItem(QTreeWidgetItem* item);
    void CloseIfAsked();

    std::vector<std::string> m_arguments;
    TPictureLoadOptions m_loading;
    std::unique_ptr<TControlSettings> m_settingsSource;
    std::unique_ptr<TListSource> m_listSource;
    std::unique_ptr<IProgressView> m_noProgress;
    TFormProgress* m_progress = nullptr;
    std::unique_ptr<TBatchRun> m_run;
    TShellIntegrationHooks m_shell;
    bool m_shown = false;
    std::vector<std::vector<std::string>> m_selection;
    bool m_startedUp = false; // the first showing's start-up has run
    bool m_takesSelections = true;
    bool m_selectionRunning = false;
    std::string m_entryTarget; // the target of the entry the run is at, for a selection's entry
    bool m_closeAsked = false; // a close came while work was under way
    int m_listingDepth = 0;
    int m_listGeneration = 0;
};

} // namespace palvex
