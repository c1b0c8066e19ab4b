// The output folder of a run: names read once and without regard to case,
// files published whole without replacing anything, leftovers of killed runs.
#include "platform/OutputFolder.h"

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include "TestMain.h"
#include "platform/Errors.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

using test::ReadFileText;

Names Entries(const fs::path& dir)
{
    Names names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Publish(TOutputFolder& folder, const std::string& name, const std::string& bytes)
{
    return folder.Publish(name, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

const auto kNow = [] { return fs::file_time_type::clock::now(); };

class OutputFolderNaming : public ::testing::TestWithParam<TOutputFolder::TNaming> {};

// Every way of naming, the fallbacks of file systems without renameat2 or links too.
TEST_P(OutputFolderNaming, NamesIgnoreCaseAndNothingIsReplaced)
{
    test::TempDir dir;
    const fs::path d = dir.Path();
    std::ofstream(d / "Photo.JPG") << "x";
    std::ofstream(d / "Čaj.jpg") << "x";
    fs::create_directory(d / "dir.jpg");
    // A dangling link holds its name as much as a file does.
    fs::create_symlink(d / "gone", d / "Link.jpg");
    TOutputFolder folder(d.string() + "/", kNow(), GetParam());
    EXPECT_EQ(folder.PathOf("a.jpg"), d.string() + "/a.jpg");
    EXPECT_EQ(TOutputFolder(d.string(), kNow()).PathOf("a.jpg"), d.string() + "/a.jpg");
    for (const char* held : {"Photo.JPG", "photo.jpg", "PHOTO.jpg", "čAJ.JPG", "DIR.jpg", "link.JPG"})
        EXPECT_TRUE(folder.Holds(held)) << held;
    for (const char* free : {"photo.png", "photo", "a.jpg"})
        EXPECT_FALSE(folder.Holds(free)) << free;

    EXPECT_TRUE(Publish(folder, "a.jpg", "ours"));
    EXPECT_TRUE(folder.Holds("A.JPG"));
    EXPECT_EQ(ReadFileText(d / "a.jpg"), "ours");
    // Taken since the folder was read (by another program): it stays theirs,
    // and the name counts as held from then on.
    std::ofstream(d / "b.jpg") << "theirs";
    EXPECT_FALSE(folder.Holds("b.jpg"));
    EXPECT_FALSE(Publish(folder, "b.jpg", "ours"));
    EXPECT_EQ(ReadFileText(d / "b.jpg"), "theirs");
    EXPECT_TRUE(folder.Holds("B.jpg"));
    folder.Sync();
    EXPECT_EQ(Entries(d), (Names{"Link.jpg", "Photo.JPG", "a.jpg", "b.jpg", "dir.jpg", "Čaj.jpg"}));
}

std::string NamingName(const ::testing::TestParamInfo<TOutputFolder::TNaming>& info)
{
    static const char* const names[] = {"Rename", "Link", "InPlace"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Ways, OutputFolderNaming,
                         ::testing::Values(TOutputFolder::TNaming::Rename, TOutputFolder::TNaming::Link,
                                           TOutputFolder::TNaming::InPlace),
                         NamingName);

TEST(OutputFolder, FailuresNameTheFileAndLeaveNothingBehind)
{
    test::TempDir dir;
    const fs::path missing = dir.Path() / "missing";
    TOutputFolder nowhere(missing.string() + "/", kNow());
    EXPECT_THROW_MSG(Publish(nowhere, "a.jpg", "x"), EFCreateError,
                     "Cannot create file \"" + missing.string() + "/a.jpg\". No such file or directory");

    // A write that fails half way (here past the file size limit) leaves no file.
    const fs::path out = dir.Path() / "out";
    fs::create_directory(out);
    TOutputFolder folder(out.string(), kNow());
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 1000;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string failure;
    try {
        Publish(folder, "big.jpg", std::string(5000, 'x'));
    } catch (const EWriteError& e) {
        failure = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(failure, "Cannot write file \"" + (out / "big.jpg").string() + "\". File too large");
    EXPECT_EQ(Entries(out), Names{});
    EXPECT_FALSE(folder.Holds("big.jpg"));
    EXPECT_TRUE(Publish(folder, "big.jpg", std::string(5000, 'x')));

    if (::geteuid() != 0) {
        fs::permissions(out, fs::perms::owner_write, fs::perm_options::remove);
        EXPECT_THROW_MSG(Publish(folder, "c.jpg", "x"), EFCreateError,
                         "Cannot create file \"" + (out / "c.jpg").string() + "\". Permission denied");
        fs::permissions(out, fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST(OutputFolder, PartialFilesOfKilledRunsAreRemovedByALaterRun)
{
    test::TempDir dir;
    const fs::path d = dir.Path();
    const auto runStart = kNow();
    const auto before = runStart - std::chrono::hours(1);
    auto partial = [&](const char* name, fs::file_time_type written) {
        std::ofstream(d / name) << "cut";
        fs::last_write_time(d / name, written);
    };
    partial(".palvex-0123456789abcdef.part", before);       // abandoned
    partial(".palvex-1111111111111111.part", before);       // a live run still writes it
    partial(".palvex-2222222222222222.part", runStart + std::chrono::seconds(5)); // newer than this run
    partial(".palvex-x.part", before);                      // not one of ours
    partial("photo.part", before);
    const int live = ::open((d / ".palvex-1111111111111111.part").c_str(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);

    TOutputFolder folder(d.string(), runStart);
    ::close(live);
    EXPECT_EQ(Entries(d), (Names{".palvex-1111111111111111.part", ".palvex-2222222222222222.part",
                                 ".palvex-x.part", "photo.part"}));
    EXPECT_FALSE(IsPartialFileName(".palvex-0123456789ABCDEF.part"));
    EXPECT_FALSE(IsPartialFileName(".palvex-0123456789abcdef.jpg"));

    // Publishing leaves nothing but the named file.
    EXPECT_TRUE(Publish(folder, "a.jpg", "whole"));
    EXPECT_EQ(Entries(d).size(), 5u);
    EXPECT_EQ(ReadFileText(d / "a.jpg"), "whole");
}

} // namespace
} // namespace palvex
