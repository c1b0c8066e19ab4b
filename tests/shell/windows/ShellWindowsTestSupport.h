// The integration dialog's and the selection's tests: the framework windows'
// set-up with a person's home (HOME and the XDG folders) in the test's folder.
#pragma once

#include "WindowsTestSupport.h"

#include "ShellTestSupport.h"

#include <QCoreApplication>

#include <optional>

#include "framework/KVLibREG.h"

namespace palvex::test {

class ShellWindowsTest : public WindowsTest {
protected:
    void SetUp() override
    {
        WindowsTest::SetUp();
        for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_RUNTIME_DIR"})
            m_saved.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt);
        fs::create_directories(Home());
        fs::create_directories(Runtime());
        fs::permissions(Runtime(), fs::perms::owner_all);
        qputenv("HOME", QByteArray::fromStdString(Home().string()));
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString((Home() / ".local/share").string()));
        // The store is m_dir/Korvane: a program started with this folder shares it.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_dir.Path().string()));
        qputenv("XDG_DATA_DIRS", "/usr/share");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(Runtime().string()));
    }

    void TearDown() override
    {
        for (const auto& [name, value] : m_saved) {
            if (value)
                qputenv(name, *value);
            else
                qunsetenv(name);
        }
        WindowsTest::TearDown();
    }

    fs::path Home() const { return m_dir.Path() / "home"; }
    fs::path Data() const { return Home() / ".local/share"; }
    fs::path Runtime() const { return m_dir.Path() / "runtime"; }

private:
    std::vector<std::pair<const char*, std::optional<QByteArray>>> m_saved;
};

} // namespace palvex::test
