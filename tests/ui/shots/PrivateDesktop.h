// The desktop program's surroundings for a program that drives its windows
// outside a test (the window pictures, the desktop bench): nothing of the
// user's is read or written.
#pragma once

#include "framework/KVLibEXE.h"
#include "framework/KVMultiLanguage.h"
#include "framework/windows/ErrorBox.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Registry.h"

#include "ProgramArguments.h"

#include <QByteArray>
#include <QDir>
#include <QTemporaryDir>

namespace palvex {

// Qt's file dialog keeps its history in the configuration folder, which Qt
// reads once: a private one, set before the application exists.
class TPrivateConfigFolder {
public:
    TPrivateConfigFolder() { qputenv("XDG_CONFIG_HOME", m_folder.path().toLocal8Bit()); }

private:
    QTemporaryDir m_folder;
};

// The application with the picture formats, and a settings store of its own
// holding the language, as the desktop program has them after its first start.
class TPrivateDesktop {
public:
    TPrivateDesktop(int& argc, char** argv, int language) : m_app(argc, argv)
    {
        SetRegistryStoreFolder(QDir(m_store.path()).filePath("Korvane").toStdString());
        SetApplicationTitle("Korvane Palvex");
        RegistryNodeName = "Palvex";
        CurrentLanguage = language;
        SaveLanguage();
    }

private:
    TPrivateConfigFolder m_config;
    TPictureFormatsScope m_formats;
    TReportingApplication m_app;
    QTemporaryDir m_store;
};

} // namespace palvex
