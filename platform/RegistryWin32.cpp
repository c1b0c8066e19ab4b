// The registry store on Windows: the system registry itself, UTF-8 outside, UTF-16 inside.
#ifdef _WIN32

#include "platform/Registry.h"

#include "platform/Errors.h"

#include <windows.h>

namespace palvex {

namespace {

std::wstring Widen(std::string_view text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const wchar_t* text, size_t length)
{
    if (length == 0)
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
}

HKEY RootHandle(TRegistryRoot root)
{
    return root == TRegistryRoot::ClassesRoot ? HKEY_CLASSES_ROOT : HKEY_LOCAL_MACHINE;
}

std::wstring JoinPath(const std::vector<std::string>& names)
{
    std::string path;
    for (const std::string& name : names) {
        if (!path.empty())
            path += '\\';
        path += name;
    }
    return Widen(path);
}

} // namespace

// Every write of the system registry stands on its own; nothing to gather.
TRegistryBatch::TRegistryBatch(TRegistryRoot root) : m_root(root) {}
TRegistryBatch::~TRegistryBatch() = default;
void TRegistryBatch::Commit(TFlush) {}

std::string TakeRegistryDamageReport() { return {}; }

void TRegistry::CloseKey()
{
    if (m_handle)
        RegCloseKey(static_cast<HKEY>(m_handle));
    m_handle = nullptr;
    m_open = false;
    m_current.clear();
}

bool TRegistry::OpenKeyWithRights(std::string_view key, bool canCreate, unsigned long rights)
{
    std::vector<std::string> path = Resolve(key);
    const std::wstring wide = JoinPath(path);
    HKEY handle = nullptr;
    LONG result;
    if (canCreate)
        result = RegCreateKeyExW(RootHandle(m_root), wide.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, rights,
                                 nullptr, &handle, nullptr);
    else
        result = RegOpenKeyExW(RootHandle(m_root), wide.c_str(), 0, rights, &handle);
    if (result != ERROR_SUCCESS)
        return false;
    CloseKey();
    m_handle = handle;
    m_current = std::move(path);
    m_open = true;
    return true;
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate)
{
    return OpenKeyWithRights(key, canCreate, KEY_ALL_ACCESS);
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) { return OpenKeyWithRights(key, false, KEY_READ); }

bool TRegistry::CreateKey(std::string_view key)
{
    HKEY handle = nullptr;
    if (RegCreateKeyExW(RootHandle(m_root), JoinPath(Resolve(key)).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &handle, nullptr) != ERROR_SUCCESS)
        throw ERegistryException(Format("Failed to create key %s", std::string(key).c_str()));
    RegCloseKey(handle);
    return true;
}

bool TRegistry::KeyExists(std::string_view key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(RootHandle(m_root), JoinPath(Resolve(key)).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

bool TRegistry::DeleteKey(std::string_view key)
{
    const std::vector<std::string> path = Resolve(key);
    if (path.empty())
        return false;
    // With a subkey named, the key goes together with everything below it.
    return RegDeleteTreeW(RootHandle(m_root), JoinPath(path).c_str()) == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(std::string_view name)
{
    if (!m_handle)
        return false;
    return RegQueryValueExW(static_cast<HKEY>(m_handle), Widen(name).c_str(), nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

std::string TRegistry::ReadString(std::string_view name)
{
    if (!m_handle)
        return {};
    const std::wstring wideName = Widen(name);
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(static_cast<HKEY>(m_handle), wideName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return {};
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD got = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegQueryValueExW(static_cast<HKEY>(m_handle), wideName.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(buffer.data()), &got) != ERROR_SUCCESS)
        return {};
    size_t length = got / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0')
        --length;
    return Narrow(buffer.data(), length);
}

void TRegistry::WriteString(std::string_view name, std::string_view data)
{
    const std::wstring wide = Widen(data);
    const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    if (!m_handle || RegSetValueExW(static_cast<HKEY>(m_handle), Widen(name).c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(wide.c_str()), bytes) != ERROR_SUCCESS)
        throw ERegistryException(Format("Failed to set data for '%s'", std::string(name).c_str()));
}

bool TRegistry::DeleteValue(std::string_view name)
{
    return m_handle && RegDeleteValueW(static_cast<HKEY>(m_handle), Widen(name).c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> TRegistry::GetKeyNames()
{
    std::vector<std::string> names;
    if (!m_handle)
        return names;
    wchar_t buffer[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(static_cast<HKEY>(m_handle), i, buffer, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.push_back(Narrow(buffer, length));
    }
    return names;
}

std::vector<std::string> TRegistry::GetValueNames()
{
    std::vector<std::string> names;
    if (!m_handle)
        return names;
    std::wstring buffer(16384, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(buffer.size());
        if (RegEnumValueW(static_cast<HKEY>(m_handle), i, buffer.data(), &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            break;
        names.push_back(Narrow(buffer.data(), length));
    }
    return names;
}

} // namespace palvex

#endif // _WIN32
