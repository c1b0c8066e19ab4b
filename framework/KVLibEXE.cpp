#include "framework/KVLibEXE.h"

#include "framework/KVFileVersion.h"
#include "platform/MakerName.h"
#include "platform/SystemInfo.h"

namespace palvex {

namespace {

std::string g_title(kApplicationTitle);
TShellOpenHandler g_openHandler;

} // namespace

const std::string& ApplicationTitle() { return g_title; }

void SetApplicationTitle(std::string title) { g_title = std::move(title); }

std::string VersionTextOfFile(const std::string& fileName)
{
    TFileVersion version;
    version.LoadFromFile(fileName);
    return "version " + version.VersionText() + " build " + std::to_string(version.Build());
}

std::string GetVersionText() { return VersionTextOfFile(ProgramFileName()); }

std::string GetSystemText() { return SystemVersionText(); }

void SetShellOpenHandler(TShellOpenHandler handler) { g_openHandler = std::move(handler); }

void OpenAddress(std::string_view address)
{
    if (g_openHandler)
        g_openHandler(std::string(address));
}

std::string MailtoAddress(std::string_view address, std::string_view subject, std::string_view body)
{
    return "mailto:" + std::string(address) + "?subject=" + std::string(subject) + "&body=" + std::string(body);
}

void ComposeMail(std::string_view address, std::string_view subject, std::string_view body)
{
    OpenAddress(MailtoAddress(address, subject, body));
}

} // namespace palvex
