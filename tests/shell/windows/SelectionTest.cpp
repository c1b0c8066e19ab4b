// A file manager's selection through the desktop program: every entry's command
// line writes what palvex-cli writes for each path, and a selection, with the
// paths of a later start handed over, is one run with one progress window.
#include "ShellWindowsTestSupport.h"

#include <QProcess>

#include <map>
#include <regex>

#include "app/Selection.h"
#include "imageio/decoders/FileFormatList.h"
#include "shell/EntryCommand.h"
#include "shell/ShellIntegration.h"
#include "shell/windows/FormIntegration.h"
#include "ui/ProgramWindows.h"
#include "ui/Progress.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;
using TOutputs = std::map<std::string, std::string>;

// The selection: a picture, a folder of two photos, and a picture in a third folder.
struct TSelection {
    fs::path Pictures, Folder, Other;
    std::vector<std::string> Paths;
};

class SelectionTest : public test::ShellWindowsTest {
protected:
    void SetUp() override
    {
        ShellWindowsTest::SetUp();
        const fs::path samples = fs::path(PALVEX_SOURCE_DIR) / "samples";
        // Folders named like options, which must stay folders.
        m_selection.Pictures = m_dir.Path() / "width=10";
        m_selection.Folder = m_selection.Pictures / "folder";
        m_selection.Other = m_dir.Path() / "other";
        fs::create_directories(m_selection.Folder);
        fs::create_directories(m_selection.Other);
        fs::copy_file(samples / "sunrise.bmp", m_selection.Pictures / "sunrise.bmp");
        fs::copy_file(samples / "landscape.jpg", m_selection.Folder / "landscape.jpg");
        fs::copy_file(samples / "portrait.jpg", m_selection.Folder / "portrait.jpg");
        fs::copy_file(samples / "shapes.png", m_selection.Other / "shapes.png");
        m_selection.Paths = {(m_selection.Pictures / "sunrise.bmp").string(), m_selection.Folder.string(),
                             (m_selection.Other / "shapes.png").string()};
        WriteSettingString("Palvex\\Language", ":", "1");
    }

    // The files a run wrote beside the sources, taken away.
    TOutputs TakeOutputs()
    {
        TOutputs outputs;
        for (const fs::path& folder : {m_selection.Pictures, m_selection.Folder, m_selection.Other})
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.is_regular_file() && entry.path().filename().string().find('_') != std::string::npos) {
                    outputs[fs::relative(entry.path(), m_dir.Path()).string()] = ReadFileText(entry.path());
                    fs::remove(entry.path());
                }
        return outputs;
    }

    // What palvex-cli writes for each path with the options.
    TOutputs CliOutputs(const std::vector<std::string>& options)
    {
        for (const std::string& path : m_selection.Paths) {
            QStringList arguments{QString::fromStdString(path)};
            for (const std::string& option : options)
                arguments << QString::fromStdString(option);
            if (fs::is_directory(path))
                arguments << "/folder";
            EXPECT_EQ(Run(PALVEX_CLI_PATH, arguments), 0) << path;
        }
        return TakeOutputs();
    }

    int Run(const QString& program, const QStringList& arguments)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        // The message loop turns meanwhile: a started palvex may hand its paths to this process.
        test::WaitFor([&] { return process.state() == QProcess::NotRunning; }, 120000);
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
        const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        EXPECT_EQ(code, 0) << program.toStdString() << ": " << process.readAllStandardError().toStdString();
        return code;
    }

    TPictureFormatsScope m_formats;
    TSelection m_selection;
};

std::string KeyOf(const std::string& text, const std::string& key)
{
    std::smatch match;
    std::regex_search(text, match, std::regex("\n" + key + "=([^\n]*)"));
    return std::regex_replace(match[1].str(), std::regex(R"(\\\\)"), "\\");
}

TEST_F(SelectionTest, EveryFileManagersEntryMakesThePalvexCliFilesInOneStart)
{
    IntegrateShell(FullIntegrationChoice(), PALVEX_GUI_PATH, UserFileManagerFolders());
    const std::string menu = ReadFileText(Data() / "kio/servicemenus/palvex-integration.desktop");
    const std::string actions = ReadFileText(m_dir.Path() / "Thunar/uca.xml");
    for (const TStoredVerb& verb : ReadStoredVerbs(FullIntegrationChoice())) {
        if (verb.Key != "KVPX05" && verb.Key != "KVPX09")
            continue;
        const TOutputs expected = CliOutputs(verb.Options);
        ASSERT_EQ(expected.size(), 4u) << verb.Key;
        const std::string id = "palvex-kvpx" + verb.Key.substr(4);
        std::smatch thunar;
        ASSERT_TRUE(std::regex_search(actions, thunar, std::regex("<unique-id>" + id + "</unique-id>\n\t<command>([^<]*)<")));
        const std::map<std::string, std::string> commands{
            {"Dolphin", KeyOf(menu.substr(menu.find("[Desktop Action " + verb.Key + "]")), "Exec")},
            {"Nemo", KeyOf(ReadFileText(Data() / "nemo/actions" / (id + ".nemo_action")), "Exec")},
            {"FileManager-Actions", KeyOf(ReadFileText(Data() / "file-manager/actions" / (id + ".desktop")), "Exec")},
            {"Thunar", std::regex_replace(thunar[1].str(), std::regex("&quot;"), "\"")}};
        for (auto [manager, command] : commands) {
            command.replace(command.find("%F"), 2, "\"$@\"");
            QStringList arguments{"-c", QString::fromStdString(command), "sh"};
            for (const std::string& path : m_selection.Paths)
                arguments << QString::fromStdString(path);
            EXPECT_EQ(Run("sh", arguments), 0) << manager;
            EXPECT_TRUE(TakeOutputs() == expected) << manager << " " << verb.Key;
        }
        QStringList paths;
        for (const std::string& path : m_selection.Paths)
            paths << QString::fromStdString(path);
        EXPECT_EQ(Run(QString::fromStdString((Data() / "nautilus/scripts/Palvex" / verb.Label).string()), paths), 0);
        EXPECT_TRUE(TakeOutputs() == expected) << "Nautilus " << verb.Key;
    }
}

TEST_F(SelectionTest, ASelectionAndALaterStartsPathsAreOneRun)
{
    const std::vector<std::string> options{"/keepaspectratio", "/width=800", "/height=600", "/quality=80", "/process=2"};
    const TOutputs expected = CliOutputs(options);
    const auto entryArguments = [&](std::vector<std::string> paths) {
        std::vector<std::string> arguments{kSelectionOption};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.push_back(kEndOfOptions);
        arguments.insert(arguments.end(), paths.begin(), paths.end());
        return arguments;
    };

    // The first start listens before its windows exist.
    TSelectionStart first(entryArguments({m_selection.Paths[0], m_selection.Paths[1]}));
    ASSERT_FALSE(first.Done());
    EXPECT_TRUE(first.WindowArguments().empty());
    TProgramWindows windows = CreateProgramWindows(first.WindowArguments(), MakeFormIntegration);
    first.Serve(*windows.FormMain);
    int showings = 0;
    struct TShowCounter : QObject {
        int& Count;
        explicit TShowCounter(int& count) : Count(count) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            Count += event->type() == QEvent::Show;
            return false;
        }
    } counter(showings);
    windows.FormProgress->installEventFilter(&counter);

    // A start for one more file, from another folder and with a relative path, hands it over and ends.
    QStringList later;
    for (const std::string& word : entryArguments({"../other/shapes.png"}))
        later << QString::fromStdString(word);
    QProcess second;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(environment);
    second.setWorkingDirectory(QString::fromStdString(m_selection.Pictures.string()));
    second.start(PALVEX_GUI_PATH, later);
    ASSERT_TRUE(test::WaitFor([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(TakeOutputs().empty());

    windows.FormMain->show();
    ASSERT_TRUE(test::WaitFor([&] { return !windows.FormMain->isVisible(); }))
        << (m_reports.empty() ? "" : m_reports[0].toStdString());
    EXPECT_EQ(showings, 1);
    EXPECT_TRUE(TakeOutputs() == expected);
    EXPECT_TRUE(m_reports.empty());
    // Once closed, the window takes no more: a later start runs by itself.
    EXPECT_FALSE(windows.FormMain->QueueSelection({{kEndOfOptions, m_selection.Paths[2]}}));
}

} // namespace
} // namespace palvex
