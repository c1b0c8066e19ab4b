// Replacing a whole file in one step, for files that people and other programs
// read while Palvex rewrites them: the settings store, the file managers' entries
// and Thunar's actions file. The bytes go to a hidden temporary file beside the
// file, are flushed to the disk, and take its place by rename, so a crash leaves
// the old contents or the new ones, never a mixture.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace palvex {

// The file that path names after following symbolic links of its last part
// (relative targets are taken from the link's folder). A link to a missing file
// gives that missing file's path, so writing through a dangling link creates
// the file where the link points.
std::string FollowFileLinks(const std::string& path);

// What ReplaceFileContents flushes to the disk before it returns. Many files
// written together flush less each and share one FlushFileSystems at the end.
enum class TFlush {
    Everything, // the bytes before the rename, the folder's new entry after it
    Contents,   // the bytes before the rename: a crash leaves the old file or the new
    Nothing,    // a crash before a later flush may leave the new name with no bytes
};

// Writes bytes as the file path names, through its symbolic links: the link
// stays a link, an existing file keeps its mode and owner, a new one gets mode.
// Returns 0, or the errno of the step that failed (nothing is changed then).
int ReplaceFileContents(const std::string& path, std::string_view bytes, unsigned mode = 0644,
                        TFlush flush = TFlush::Everything);

// Flushes everything written to the file systems that hold the paths to the
// disk, each file system once; missing paths are left out.
void FlushFileSystems(const std::vector<std::string>& paths);

// Removes the temporary files that a writer of path killed in the middle left
// behind. Only for a caller that knows no other writer of path is at work.
void RemoveLeftoverTemporaries(const std::string& path);

// The temporary file's name pattern: "." + name + ".tmp-" + six characters.
bool IsTemporaryNameOf(std::string_view entryName, std::string_view fileName);

} // namespace palvex
