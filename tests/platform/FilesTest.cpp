// File search with attributes, wildcards and path splitting.
#include "platform/Files.h"

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "TestMain.h"
#include "platform/Errors.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;

TEST(Files, Wildcard)
{
    const struct {
        const char* name;
        const char* pattern;
        bool matches;
    } cases[] = {
        {"PHOTO.JPG", "*.jpg", true}, // case is ignored, Czech letters too
        {"čaj.JPG", "ČAJ.jpg", true},
        {"čaj.jpg", "Č?J.*", true},
        {"ř.jpg", "?.jpg", true}, // one letter of two bytes
        {"a.jpeg", "*.jpg", false},
        {"a.jpg.png", "*.jpg", false},
        {"aXbYbZc", "a*b*c", true}, // a star gives back what it took
        {"ba", "*a", true},
        {"", "*", true},
        {"", "?", false},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abcd", "abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchesWildcard(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
    // A pattern with many stars must not take exponential time.
    const std::string name(5000, 'a');
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(MatchesWildcard(name, "*a*a*a*a*a*a*a*a*b"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(Files, PathParts)
{
    EXPECT_EQ(ExtractFileDir("/a/b/c.jpg"), "/a/b");
    EXPECT_EQ(ExtractFileName("/a/b/c.jpg"), "c.jpg");
    EXPECT_EQ(ExtractFileDir("c.jpg"), "");
    EXPECT_EQ(ExtractFileName("c.jpg"), "c.jpg");
    EXPECT_EQ(ExtractFileDir("/c.jpg"), "");
    EXPECT_EQ(ExtractFileDir("/a/"), "/a");
    EXPECT_EQ(ExtractFileName("/a/"), "");
}

TEST(Files, FindFilesAttributes)
{
    test::TempDir dir;
    const fs::path d = dir.Path();
    std::ofstream(d / "b.jpg") << "12345";
    std::ofstream(d / "A.JPG") << "1";
    std::ofstream(d / ".hidden.jpg") << "";
    std::ofstream(d / "c.png") << "";
    fs::create_directory(d / "dir.jpg");
    ASSERT_EQ(::mkfifo((d / "fifo.jpg").c_str(), 0600), 0);
    fs::create_symlink(d / "gone", d / "dangling.jpg");
    fs::create_symlink(d / "b.jpg", d / "link.jpg");

    const std::vector<TSearchRec> found = FindFiles(d.string(), "*.JPG");
    std::vector<std::string> names;
    for (const auto& f : found)
        names.push_back(f.Name);
    EXPECT_EQ(names, (std::vector<std::string>{".hidden.jpg", "A.JPG", "b.jpg", "dangling.jpg", "dir.jpg",
                                               "fifo.jpg", "link.jpg"}));
    auto attr = [&](const char* name) {
        for (const auto& f : found)
            if (f.Name == name)
                return f.Attr;
        return ~0u;
    };
    EXPECT_EQ(attr(".hidden.jpg"), faArchive | faHidden);
    EXPECT_EQ(attr("A.JPG"), faArchive);
    EXPECT_EQ(attr("dir.jpg"), faDirectory);
    EXPECT_EQ(attr("fifo.jpg"), faDevice);
    EXPECT_EQ(attr("dangling.jpg"), faSymLink);
    EXPECT_EQ(attr("link.jpg"), faArchive); // judged by what it points to
    EXPECT_EQ(found[2].Size, 5);
    EXPECT_EQ(found[4].Size, 0); // folders carry no size

    // Read-only comes from the permission bits; the superuser may write anything.
    if (::geteuid() != 0) {
        fs::permissions(d / "b.jpg", fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_EQ(FindFiles(d.string(), "b.jpg").at(0).Attr, faArchive | faReadOnly);
    }
    EXPECT_EQ(FindFiles(d.string(), "*").size(), 8u); // "." and ".." are not entries
    EXPECT_TRUE(FindFiles((d / "missing").string(), "*").empty());
    EXPECT_TRUE(FindFiles((d / "b.jpg").string(), "*").empty());
    // A folder that a run must list says why it cannot be.
    EXPECT_EQ(ListFolder(d.string(), "*.png").size(), 1u);
    EXPECT_THROW_MSG(ListFolder((d / "missing/").string(), "*"), EFOpenError,
                     "Cannot open folder \"" + (d / "missing/").string() + "\". No such file or directory");
    EXPECT_THROW_MSG(ListFolder((d / "b.jpg").string(), "*"), EFOpenError,
                     "Cannot open folder \"" + (d / "b.jpg").string() + "\". Not a directory");
}

} // namespace
} // namespace palvex
