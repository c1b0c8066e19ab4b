// The desktop program's windows as the program creates them, driven as a user
// would: sample pictures in a temporary folder, the open-picture dialog and the
// folder chooser answered through the modal hook.
#pragma once

#include "WindowsTestSupport.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QTest>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/KVLibREG.h"
#include "imageio/decoders/FileFormatList.h"
#include "ui/OpenPictureDialog.h"
#include "ui/ProgramWindows.h"
#include "ui/SelectDir.h"

namespace palvex::test {

namespace fs = std::filesystem;

// File names of a folder, sorted.
inline std::vector<std::string> NamesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A configuration folder for the whole test program: Qt's file dialog keeps
// its history there, and Qt reads the place once.
inline void UsePrivateConfigFolder()
{
    static TempDir folder;
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(folder.Path().string()));
}

class UiTest : public WindowsTest {
protected:
    void SetUp() override
    {
        UsePrivateConfigFolder();
        WindowsTest::SetUp();
        m_formats = std::make_unique<TPictureFormatsScope>();
        m_pictures = m_dir.Path() / "pictures";
        fs::create_directories(m_pictures);
        for (const auto& entry : fs::directory_iterator(fs::path(PALVEX_SOURCE_DIR) / "samples"))
            fs::copy_file(entry.path(), m_pictures / entry.path().filename());
    }

    void TearDown() override
    {
        m_windows = {};
        m_formats.reset();
        WindowsTest::TearDown();
    }

    // The windows in the start-up order and the main window shown; its first
    // showing has run on return. storedLanguage null: a first start.
    TFormMain& StartProgram(std::vector<std::string> arguments = {}, const char* storedLanguage = "0")
    {
        if (storedLanguage)
            WriteSettingString("Palvex\\Language", ":", storedLanguage);
        m_windows = CreateProgramWindows(std::move(arguments));
        m_windows.FormMain->show();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        return *m_windows.FormMain;
    }

    TFormMain& Main() { return *m_windows.FormMain; }

    // The sample pictures listed and a fresh folder "out" chosen as the target.
    fs::path ListPicturesIntoNewTarget()
    {
        ChooseSource(m_pictures / "landscape.jpg");
        const fs::path out = m_dir.Path() / "out";
        fs::create_directory(out);
        ChooseTarget(out);
        return out;
    }

    // The source through "...": the file picked in the open-picture dialog, whose
    // preview label is kept in m_pictureLabel.
    void ChooseSource(const fs::path& file)
    {
        m_onModal = [this, file](QDialog& dialog) {
            auto* open = qobject_cast<TOpenPictureDialog*>(&dialog);
            ASSERT_NE(open, nullptr);
            // The path pasted into the name field, then Enter.
            auto* name = open->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(file.string()));
            m_pictureLabel = open->PictureLabel->text();
            QTest::keyClick(name, Qt::Key_Return);
        };
        Click(Main().BitBtn2);
        m_onModal = nullptr;
    }

    // The target through its "...": the folder selected in the chooser, then OK.
    void ChooseTarget(const fs::path& folder)
    {
        m_onModal = [folder](QDialog& dialog) {
            auto* chooser = qobject_cast<TFormSelectDir*>(&dialog);
            ASSERT_NE(chooser, nullptr);
            chooser->SelectPath(QString::fromStdString(folder.string()));
            Click(chooser->BitBtn2);
        };
        Click(Main().BitBtn1);
        m_onModal = nullptr;
    }

    std::unique_ptr<TPictureFormatsScope> m_formats;
    TProgramWindows m_windows;
    fs::path m_pictures;
    QString m_pictureLabel;
};

} // namespace palvex::test
