// The folder a batch run writes into: its names read once and kept up to date,
// and files published whole under a name that was free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>

namespace palvex {

// A file being written before it gets its name: ".palvex-" + 16 hex digits +
// ".part". Hidden, and no picture extension, so no listing takes it for a source.
bool IsPartialFileName(std::string_view name);

class TOutputFolder {
public:
    // How a file system gives a name without replacing, from the most to the
    // least safe; a folder starts with Rename and learns at its first publish.
    enum class TNaming : uint8_t { Rename, Link, InPlace };

    // Reads the folder's names once, and removes the partial files that a run
    // killed before runStart left and that no live run is writing. A folder that
    // cannot be read holds no names here: the first Publish says why.
    TOutputFolder(std::string folder, std::filesystem::file_time_type runStart, TNaming naming = TNaming::Rename);
    TOutputFolder(const TOutputFolder&) = delete;
    TOutputFolder& operator=(const TOutputFolder&) = delete;

    const std::string& Folder() const { return m_folder; }
    // The folder without one trailing delimiter, a delimiter, then name.
    std::string PathOf(std::string_view name) const;

    // True when the folder holds an entry named name without regard to case
    // (the framework's upper-casing), as listed or published since.
    bool Holds(std::string_view name) const;

    // Writes the bytes to a partial file in the folder, flushes them to the disk
    // and then gives them the name without replacing anything. False, with
    // nothing written, when the name was taken meanwhile (by another program); it
    // then counts as held. Raises EFCreateError "Cannot create file ..." or
    // EWriteError "Cannot write file ..." naming PathOf(name), and leaves no
    // partial file. On a file system that can neither rename without replacing
    // nor link, the file is created under its name exclusively and written there.
    bool Publish(std::string_view name, const uint8_t* data, size_t size);

    // Makes the names given so far last through a power failure. Failures are
    // not reported: every file was flushed already, and a file system that
    // cannot flush a folder has nothing more to give.
    void Sync() noexcept;

private:
    bool PublishThroughPartial(const std::string& path, const uint8_t* data, size_t size);
    bool PublishInPlace(const std::string& path, const uint8_t* data, size_t size);

    std::string m_folder;
    std::string m_prefix;
    std::unordered_set<std::string> m_names; // upper-cased
    TNaming m_naming;
    bool m_published = false;
};

} // namespace palvex
