#include "framework/KVLibREG.h"

#include "platform/Registry.h"

namespace palvex {

void WriteSettingString(std::string_view subPath, std::string_view valueName, std::string_view data)
{
    const std::string key = std::string(kSettingsKey) + std::string(subPath);
    TRegistry reg(TRegistryRoot::LocalMachine);
    if (!reg.OpenKey(key, false))
        reg.CreateKey(key);
    if (reg.OpenKey(key, true))
        reg.WriteString(valueName, data);
    reg.CloseKey();
}

std::string ReadSettingString(std::string_view subPath, std::string_view valueName)
{
    TRegistry reg(TRegistryRoot::LocalMachine);
    if (!reg.OpenKeyReadOnly(std::string(kSettingsKey) + std::string(subPath)))
        return {};
    return reg.ReadString(valueName);
}

} // namespace palvex
