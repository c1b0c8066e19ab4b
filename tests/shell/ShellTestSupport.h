// A person's home for the shell tests: temporary HOME and XDG folders, the
// store inside them, and helpers that run programs and compare folder trees.
#pragma once

#include "framework/KVMultiLanguage.h"
#include "platform/Registry.h"
#include "ui/texts/InterfaceTexts.h"

#include "StartProgram.h"
#include "TestMain.h"

#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace palvex::test {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, std::string_view text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

struct TRunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Runs argv[0] with the test's environment; stdout and stderr read back.
inline TRunResult RunProgram(const std::vector<std::string>& argv, const fs::path& scratch)
{
    const fs::path out = scratch / "run.stdout";
    const fs::path err = scratch / "run.stderr";
    const pid_t pid = StartProgram(argv, out, err);
    TRunResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        result.ExitCode = WEXITSTATUS(status);
    result.Out = ReadFileText(out);
    result.Err = ReadFileText(err);
    return result;
}

// Every entry below root with its kind, mode and bytes, for "as it was before".
inline std::map<std::string, std::string> Snapshot(const fs::path& root)
{
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string mode = std::to_string(static_cast<int>(entry.symlink_status().permissions()));
        std::string& item = tree[fs::relative(entry.path(), root).string()];
        if (entry.is_symlink())
            item = "link " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            item = "folder " + mode;
        else
            item = "file " + mode + " " + ReadFileText(entry.path());
    }
    return tree;
}

class PersonsHome : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        fs::create_directories(Home());
        setenv("HOME", Home().c_str(), 1);
        setenv("XDG_DATA_HOME", (Home() / ".local/share").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (Home() / ".config").c_str(), 1);
        setenv("XDG_DATA_DIRS", "/usr/share", 1);
        SetRegistryStoreFolder("");
        RegistryNodeName = "Palvex";
        SetLanguage(kLanguageEnglish);
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        SetLanguage(kLanguageEnglish);
        TakeRegistryDamageReport();
    }

    static void SetLanguage(int language)
    {
        CurrentLanguage = language;
        FillMainWindowTexts(language);
    }

    fs::path Home() const { return m_dir.Path() / "home"; }
    fs::path Data() const { return Home() / ".local/share"; }
    fs::path Scratch() const { return m_dir.Path(); }

    TempDir m_dir;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace palvex::test
