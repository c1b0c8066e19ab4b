// The registry store where there is no system registry: one text file per root,
// re-read under a file lock before every change and replaced atomically, so two
// running copies never lose each other's keys and a crash never leaves half a file.
#include "platform/Registry.h"

#include "platform/Errors.h"
#include "platform/MakerName.h"
#include "platform/RegistryText.h"

#include <cerrno>
#include <cstdlib>

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace palvex {

namespace {

// Set at start-up or by tests, before any store access; the program has one thread.
std::string g_folderOverride;

} // namespace

std::vector<std::string> SplitKeyPath(std::string_view key)
{
    std::vector<std::string> names;
    size_t i = 0;
    while (i <= key.size()) {
        size_t j = key.find('\\', i);
        if (j == std::string_view::npos)
            j = key.size();
        if (j > i)
            names.emplace_back(key.substr(i, j - i));
        i = j + 1;
    }
    return names;
}

void SetRegistryStoreFolder(std::string folder)
{
    g_folderOverride = std::move(folder);
}

std::string RegistryStoreFolder()
{
    if (!g_folderOverride.empty())
        return g_folderOverride;
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, so a program started elsewhere finds the same store.
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
#ifndef _WIN32
        if (!home || !home[0]) {
            if (const passwd* pw = getpwuid(getuid()))
                home = pw->pw_dir;
        }
#endif
        base = std::string(home ? home : ".") + "/.config";
    }
    return base + "/" + kMakerName;
}

std::string RegistryStoreFile(TRegistryRoot root)
{
    return RegistryStoreFolder() +
           (root == TRegistryRoot::ClassesRoot ? "/HKEY_CLASSES_ROOT.txt" : "/HKEY_LOCAL_MACHINE.txt");
}

std::vector<std::string> TRegistry::Resolve(std::string_view key) const
{
    std::vector<std::string> names;
    if (m_open && (key.empty() || key.front() != '\\'))
        names = m_current;
    for (std::string& name : SplitKeyPath(key))
        names.push_back(std::move(name));
    return names;
}

std::string TRegistry::CurrentPath() const
{
    std::string path;
    for (const std::string& name : m_current) {
        if (!path.empty())
            path += '\\';
        path += name;
    }
    return path;
}

#ifndef _WIN32

namespace {

constexpr size_t kMaxStoreFile = 16 * 1024 * 1024;

const char* RootTitle(TRegistryRoot root)
{
    static constexpr auto kClassesRoot = JoinText(kMakerName, " settings store: HKEY_CLASSES_ROOT");
    static constexpr auto kLocalMachine = JoinText(kMakerName, " settings store: HKEY_LOCAL_MACHINE");
    return root == TRegistryRoot::ClassesRoot ? kClassesRoot.Text : kLocalMachine.Text;
}

// The store could not be written; the caller raises its own message.
struct StoreWriteFailed {};

// Reads the root's file; a missing file is an empty store, a damaged one is reported.
TRegistryKey LoadStore(TRegistryRoot root)
{
    const std::string path = RegistryStoreFile(root);
    TRegistryKey tree;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return tree;
        throw ERegistryException(Format("Cannot read the settings file \"%s\". %s", path.c_str(),
                                        SystemErrorText(errno).c_str()));
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw ERegistryException(Format("Cannot read the settings file \"%s\". %s", path.c_str(),
                                            SystemErrorText(error).c_str()));
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
        if (text.size() > kMaxStoreFile)
            break;
    }
    ::close(fd);
    const int badLine = text.size() > kMaxStoreFile ? 1 : ParseRegistry(text, tree);
    if (badLine != 0)
        throw ERegistryException(Format("The settings file \"%s\" is damaged at line %d and was left as it is",
                                        path.c_str(), badLine));
    return tree;
}

bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

void SaveStore(TRegistryRoot root, const TRegistryKey& tree)
{
    const std::string folder = RegistryStoreFolder();
    const std::string path = RegistryStoreFile(root);
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw StoreWriteFailed{};
    ::fchmod(fd, 0644);
    const bool written = WriteAll(fd, SerializeRegistry(tree, RootTitle(root))) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        throw StoreWriteFailed{};
    }
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

bool MakeFolders(const std::string& folder)
{
    for (size_t i = 1; i <= folder.size(); ++i) {
        if (i != folder.size() && folder[i] != '/')
            continue;
        const std::string part = folder.substr(0, i);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st {};
    return ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Runs change on a fresh copy of the store while holding the store's lock, and
// writes the result when change reports that it altered something.
template <typename Change>
bool ModifyStore(TRegistryRoot root, Change change)
{
    const std::string folder = RegistryStoreFolder();
    if (!MakeFolders(folder))
        throw StoreWriteFailed{};
    const std::string lockPath = RegistryStoreFile(root) + ".lock";
    const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lockFd < 0)
        throw StoreWriteFailed{};
    while (::flock(lockFd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(lockFd);
            throw StoreWriteFailed{};
        }
    }
    try {
        TRegistryKey tree = LoadStore(root);
        const bool changed = change(tree);
        if (changed)
            SaveStore(root, tree);
        ::close(lockFd);
        return changed;
    } catch (...) {
        ::close(lockFd);
        throw;
    }
}

} // namespace

TRegistry::TRegistry(TRegistryRoot root) : m_root(root) {}

TRegistry::~TRegistry() { CloseKey(); }

void TRegistry::SetRootKey(TRegistryRoot root)
{
    CloseKey();
    m_root = root;
}

void TRegistry::CloseKey()
{
    m_open = false;
    m_current.clear();
}

bool TRegistry::OpenKey(std::string_view key, bool canCreate)
{
    std::vector<std::string> path = Resolve(key);
    TRegistryKey tree = LoadStore(m_root);
    if (!FindRegistryKey(tree, path)) {
        if (!canCreate)
            return false;
        for (const std::string& name : path)
            if (!IsStorableKeyName(name))
                return false;
        try {
            ModifyStore(m_root, [&](TRegistryKey& t) {
                bool created = false;
                CreateRegistryKey(t, path, created);
                return created;
            });
        } catch (const StoreWriteFailed&) {
            return false;
        }
    }
    m_current = std::move(path);
    m_open = true;
    return true;
}

bool TRegistry::OpenKeyReadOnly(std::string_view key) { return OpenKey(key, false); }

bool TRegistry::CreateKey(std::string_view key)
{
    const std::vector<std::string> path = Resolve(key);
    const auto fail = [&] { return ERegistryException(Format("Failed to create key %s", std::string(key).c_str())); };
    for (const std::string& name : path)
        if (!IsStorableKeyName(name))
            throw fail();
    TRegistryKey tree = LoadStore(m_root);
    if (FindRegistryKey(tree, path))
        return true;
    try {
        ModifyStore(m_root, [&](TRegistryKey& t) {
            bool created = false;
            CreateRegistryKey(t, path, created);
            return created;
        });
    } catch (const StoreWriteFailed&) {
        throw fail();
    }
    return true;
}

bool TRegistry::KeyExists(std::string_view key)
{
    TRegistryKey tree = LoadStore(m_root);
    return FindRegistryKey(tree, Resolve(key)) != nullptr;
}

bool TRegistry::DeleteKey(std::string_view key)
{
    const std::vector<std::string> path = Resolve(key);
    if (path.empty())
        return false;
    {
        TRegistryKey tree = LoadStore(m_root);
        if (!FindRegistryKey(tree, path))
            return false;
    }
    try {
        return ModifyStore(m_root, [&](TRegistryKey& t) { return RemoveRegistryKey(t, path); });
    } catch (const StoreWriteFailed&) {
        return false;
    }
}

bool TRegistry::ValueExists(std::string_view name)
{
    if (!m_open)
        return false;
    TRegistryKey tree = LoadStore(m_root);
    TRegistryKey* key = FindRegistryKey(tree, m_current);
    return key && FindRegistryValue(*key, name);
}

std::string TRegistry::ReadString(std::string_view name)
{
    if (!m_open)
        return {};
    TRegistryKey tree = LoadStore(m_root);
    TRegistryKey* key = FindRegistryKey(tree, m_current);
    if (!key)
        return {};
    const TRegistryValue* value = FindRegistryValue(*key, name);
    return value ? value->Data : std::string();
}

void TRegistry::WriteString(std::string_view name, std::string_view data)
{
    const auto fail = [&] { return ERegistryException(Format("Failed to set data for '%s'", std::string(name).c_str())); };
    if (!m_open)
        throw fail();
    bool keyGone = false;
    try {
        ModifyStore(m_root, [&](TRegistryKey& t) {
            TRegistryKey* key = FindRegistryKey(t, m_current);
            if (!key) {
                keyGone = true;
                return false;
            }
            if (TRegistryValue* value = FindRegistryValue(*key, name)) {
                if (value->Data == data)
                    return false;
                value->Data = std::string(data);
            } else {
                key->Values.push_back(TRegistryValue{std::string(name), std::string(data)});
            }
            return true;
        });
    } catch (const StoreWriteFailed&) {
        throw fail();
    }
    // Another copy of the program deleted the open key meanwhile.
    if (keyGone)
        throw fail();
}

bool TRegistry::DeleteValue(std::string_view name)
{
    if (!m_open)
        return false;
    try {
        return ModifyStore(m_root, [&](TRegistryKey& t) {
            TRegistryKey* key = FindRegistryKey(t, m_current);
            if (!key)
                return false;
            for (auto it = key->Values.begin(); it != key->Values.end(); ++it) {
                if (SameRegistryName(it->Name, name)) {
                    key->Values.erase(it);
                    return true;
                }
            }
            return false;
        });
    } catch (const StoreWriteFailed&) {
        return false;
    }
}

std::vector<std::string> TRegistry::GetKeyNames()
{
    std::vector<std::string> names;
    if (!m_open)
        return names;
    TRegistryKey tree = LoadStore(m_root);
    if (TRegistryKey* key = FindRegistryKey(tree, m_current))
        for (const TRegistryKey& sub : key->Subkeys)
            names.push_back(sub.Name);
    return names;
}

std::vector<std::string> TRegistry::GetValueNames()
{
    std::vector<std::string> names;
    if (!m_open)
        return names;
    TRegistryKey tree = LoadStore(m_root);
    if (TRegistryKey* key = FindRegistryKey(tree, m_current))
        for (const TRegistryValue& value : key->Values)
            names.push_back(value.Name);
    return names;
}

#endif // !_WIN32

} // namespace palvex
