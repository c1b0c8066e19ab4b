// palvex-cli run as a process in a temporary folder, its files read back.
#include <chrono>
#include <csignal>
#include <fstream>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <iterator>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "raster/Bitmap32.h"

#include "StartProgram.h"
#include "TestMain.h"
#include "decoders/DecoderTestUtil.h"

#ifdef PALVEX_CLI_PATH

namespace palvex {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

struct CliResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    double seconds = 0;
    bool killed = false; // still running at the timeout
};

using test::ReadFileText;

// Where a run's stdout (".stdout") or stderr (".stderr") goes: beside workDir.
fs::path CaptureFile(const fs::path& workDir, const char* suffix)
{
    return workDir.parent_path() / (workDir.filename().string() + suffix);
}

// Starts the program with arguments in workDir, its output into the capture files.
pid_t StartCli(const std::vector<std::string>& arguments, const fs::path& workDir)
{
    std::vector<std::string> argv{PALVEX_CLI_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::StartProgram(argv, CaptureFile(workDir, ".stdout"), CaptureFile(workDir, ".stderr"), workDir);
}

// Runs the program to its end, or kills it after timeout.
CliResult RunCli(const std::vector<std::string>& arguments, const fs::path& workDir,
                 std::chrono::milliseconds timeout = std::chrono::minutes(2))
{
    const fs::path outFile = CaptureFile(workDir, ".stdout");
    const fs::path errFile = CaptureFile(workDir, ".stderr");
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = StartCli(arguments, workDir);
    CliResult result;
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > timeout) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.killed = true;
            break;
        }
        ::usleep(2000);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    result.out = ReadFileText(outFile);
    result.err = ReadFileText(errFile);
    fs::remove(outFile);
    fs::remove(errFile);
    return result;
}

// A width x height JPEG with a colour gradient, encoded in this process.
void WriteJpeg(const fs::path& path, int width, int height)
{
    TBitmap32 pixels;
    pixels.SetSize(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels.SetPixel(x, y, Color32(x * 255 / width, y * 255 / height, 128));
    TBitmap plain;
    pixels.CopyTo(plain);
    TJPEGImage jpeg;
    jpeg.AssignFrom(&plain);
    jpeg.SaveFile(path.string());
}

// Every file of a folder (not recursing) with its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& dir)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = e.is_regular_file() ? ReadFileText(e.path()) : "<folder>";
    return files;
}

Names NewFiles(const std::map<std::string, std::string>& before, const fs::path& dir)
{
    Names added;
    for (const auto& [name, bytes] : Snapshot(dir))
        if (!before.count(name))
            added.push_back(name);
    return added;
}

std::pair<int32_t, int32_t> JpegSize(const fs::path& path)
{
    TJPEGImage jpeg;
    jpeg.LoadFile(path.string());
    return {jpeg.Width(), jpeg.Height()};
}

class Cli : public ::testing::Test {
protected:
    fs::path Work() const { return m_dir.Path(); }
    std::string In(const std::string& name) const { return (Work() / name).string(); }
    // Files that existed before a run must come out of it unchanged.
    void ExpectUnchanged(const std::map<std::string, std::string>& before) const
    {
        const auto after = Snapshot(Work());
        for (const auto& [name, bytes] : before) {
            ASSERT_TRUE(after.count(name)) << name;
            EXPECT_TRUE(after.at(name) == bytes) << name << " was modified";
        }
    }

    test::TempDir m_dir;
    TPictureFormatsScope m_formats;
};

const std::vector<std::string> kScreen{"/keepaspectratio", "/width=32", "/height=32", "/quality=50", "/process=2"};

std::vector<std::string> With(std::string path, std::vector<std::string> options)
{
    options.insert(options.begin(), std::move(path));
    return options;
}

TEST_F(Cli, FileModeAndTwoGenerations)
{
    WriteJpeg(Work() / "a.jpg", 64, 48);
    const auto before = Snapshot(Work());
    CliResult r = RunCli(With(In("a.jpg"), kScreen), Work());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, ""); // not a terminal: silent
    EXPECT_EQ(NewFiles(before, Work()), Names{"a_32x24_50q.jpg"});
    EXPECT_EQ(JpegSize(Work() / "a_32x24_50q.jpg"), std::make_pair(32, 24));
    ExpectUnchanged(before);

    // The same job again: a second generation beside the first, byte for byte equal.
    const auto first = Snapshot(Work());
    r = RunCli(With(In("a.jpg"), kScreen), Work());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(NewFiles(first, Work()), Names{"a_32x24_50q(2).jpg"});
    ExpectUnchanged(first);
    EXPECT_EQ(ReadFileText(Work() / "a_32x24_50q(2).jpg"), first.at("a_32x24_50q.jpg"));

    // A relative bare name writes into the current folder.
    r = RunCli({"a.jpg", "/convert"}, Work());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(fs::exists(Work() / "a_64x48_100q.jpg"));
}

TEST_F(Cli, NamingAndCollisionsInOtherCase)
{
    // Another picture type: the output goes next to it.
    {
        std::ofstream ppm(Work() / "a.ppm", std::ios::binary);
        ppm << "P6\n60 40\n255\n" << std::string(60 * 40 * 3, '\x80');
    }
    CliResult r = RunCli(With(In("a.ppm"), kScreen), Work());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(JpegSize(Work() / "a_32x21_50q.jpg"), std::make_pair(32, 21));

    // The photo preset, a name with two dots, and existing names in other letter cases.
    WriteJpeg(Work() / "photo.final.jpg", 60, 40);
    std::ofstream(Work() / "PHOTO.FINAL_1536X1024_90Q.JPG") << "older";
    std::ofstream(Work() / "photo.final_1536x1024_90q(2).png") << "other type";
    const auto before = Snapshot(Work());
    r = RunCli({In("photo.final.jpg"), "/photo1015"}, Work());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(NewFiles(before, Work()), Names{"photo.final_1536x1024_90q(2).jpg"});
    ExpectUnchanged(before);
    EXPECT_EQ(JpegSize(Work() / "photo.final_1536x1024_90q(2).jpg"), std::make_pair(1536, 1024));
}

TEST_F(Cli, FolderModeTakesJpegEntries)
{
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    WriteJpeg(pics / "one.jpg", 64, 48);
    WriteJpeg(pics / "TWO.JPG", 48, 64);
    WriteJpeg(pics / "three.Jpg", 16, 16);
    std::ofstream(pics / "four.png") << "never read";
    fs::create_directory(pics / "x.jpg");
    WriteJpeg(pics / "x.jpg" / "inner.jpg", 8, 8);
    const auto before = Snapshot(pics);
    const CliResult r = RunCli({pics.string() + "/", "/convert", "/folder"}, Work());
    // The sub-folder x.jpg is listed, last, and ends the run when it is reached.
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("x.jpg"), std::string::npos) << r.err;
    EXPECT_EQ(NewFiles(before, pics), (Names{"TWO_48x64_100q.jpg", "one_64x48_100q.jpg", "three_16x16_100q.jpg"}));
    EXPECT_EQ(Snapshot(pics / "x.jpg").size(), 1u);
    for (const auto& [name, bytes] : before) {
        if (bytes != "<folder>") {
            EXPECT_TRUE(ReadFileText(pics / name) == bytes) << name;
        }
    }

    // A folder without JPEG files: nothing to do, a normal end.
    const fs::path empty = Work() / "empty";
    fs::create_directory(empty);
    std::ofstream(empty / "a.png") << "x";
    EXPECT_EQ(RunCli({empty.string(), "/FOLDER"}, Work()).exitCode, 0);
    EXPECT_EQ(Snapshot(empty).size(), 1u);
}

TEST_F(Cli, ErrorsNameThePictureOrFolderAndEndTheRun)
{
    // An unreadable picture between two good ones: the first is written, the
    // bad one leaves nothing, the run stops there.
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    WriteJpeg(pics / "a.jpg", 16, 16);
    std::ofstream(pics / "b.jpg") << "this is no JPEG file";
    WriteJpeg(pics / "c.jpg", 16, 16);
    const auto before = Snapshot(pics);
    CliResult r = RunCli({pics.string(), "/folder", "/convert"}, Work());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(NewFiles(before, pics), Names{"a_16x16_100q.jpg"});
    EXPECT_EQ(r.err.rfind("palvex-cli: " + (pics / "b.jpg").string() + ": JPEG error #", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1); // one line

    // A file that is not there.
    r = RunCli({In("missing.jpg"), "/convert"}, Work());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "palvex-cli: Cannot open file \"" + In("missing.jpg") + "\". No such file or directory.\n");

    // A folder given without /folder fails on loading, by its missing extension.
    r = RunCli({pics.string(), "/convert"}, Work());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "palvex-cli: " + pics.string() + ": Unknown picture file extension (.)\n");

    // A folder run over a folder that cannot be listed is an error, not an empty run.
    r = RunCli({In("nowhere"), "--folder"}, Work());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "palvex-cli: Cannot open folder \"" + In("nowhere/") + "\". No such file or directory.\n");

    // /QUALITY without digits: a usage error with the conversion error's text, no run.
    WriteJpeg(Work() / "q.jpg", 16, 16);
    const auto beforeQuality = Snapshot(Work());
    r = RunCli({In("q.jpg"), "/QUALITY", "/width=8"}, Work());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "palvex-cli: '' is not a valid integer value.\n");
    EXPECT_EQ(NewFiles(beforeQuality, Work()), Names{});

    // /WIDTH without digits leaves the limit empty: the run fails on the picture.
    r = RunCli({In("q.jpg"), "/WIDTH"}, Work());
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "palvex-cli: " + In("q.jpg") + ": '' is not a valid integer value.\n");
    EXPECT_EQ(NewFiles(beforeQuality, Work()), Names{});
}

TEST_F(Cli, KeepGoingNamesEachFailureAndExitsThree)
{
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    WriteJpeg(pics / "a.jpg", 16, 16);
    std::ofstream(pics / "b.jpg") << "this is no JPEG file";
    fs::create_directory(pics / "c.jpg");
    WriteJpeg(pics / "d.jpg", 16, 16);
    const auto before = Snapshot(pics);
    CliResult r = RunCli({"--keep-going", pics.string(), "/folder", "/convert"}, Work());
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(NewFiles(before, pics), (Names{"a_16x16_100q.jpg", "d_16x16_100q.jpg"}));
    const size_t second = r.err.find('\n') + 1;
    EXPECT_EQ(r.err.rfind("palvex-cli: " + (pics / "b.jpg").string() + ": JPEG error #", 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(second), "palvex-cli: Cannot open file \"" + (pics / "c.jpg").string() +
                                        "\". Is a directory.\n");
    // Nothing failed: success.
    fs::remove(pics / "b.jpg");
    fs::remove(pics / "c.jpg");
    r = RunCli({pics.string(), "/folder", "/convert", "--keep-going"}, Work());
    EXPECT_EQ(r.exitCode, 0) << r.err;
}

// Several jobs write what one job writes: the files with their names and
// bytes, the messages and the exit status, a failing picture included.
TEST_F(Cli, JobsWriteWhatOneJobWrites)
{
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    for (int i = 0; i < 12; ++i)
        WriteJpeg(pics / ("p" + std::to_string(i) + ".jpg"), 40 + i * 29 % 90, 30 + i * 17 % 70);
    WriteJpeg(pics / "p3.jpg", 64, 64);
    // Earlier outputs (sources as well, being .jpg) take names the run wants.
    fs::copy_file(pics / "p1.jpg", pics / "p3_32x32_50q.jpg");
    fs::copy_file(pics / "p1.jpg", pics / "P3_32X32_50Q(2).JPG");
    std::ofstream(pics / "p6.jpg") << "this is no JPEG file";
    const std::vector<std::string> options{"/keepaspectratio", "/width=32", "/height=32", "/quality=50", "/folder"};
    for (const bool keepGoing : {false, true}) {
        SCOPED_TRACE(keepGoing ? "keep going" : "first error ends");
        std::map<int, CliResult> results;
        std::map<int, std::map<std::string, std::string>> files;
        for (const int jobs : {1, 4}) {
            const fs::path copy = Work() / ("jobs" + std::to_string(jobs));
            fs::copy(pics, copy);
            std::vector<std::string> arguments = With(copy.string(), options);
            arguments.push_back("--jobs=" + std::to_string(jobs));
            if (keepGoing)
                arguments.push_back("--keep-going");
            results[jobs] = RunCli(arguments, Work());
            // The messages name the folder: the same for both.
            for (size_t at; (at = results[jobs].err.find(copy.string())) != std::string::npos;)
                results[jobs].err.replace(at, copy.string().size(), "PICS");
            files[jobs] = Snapshot(copy);
            fs::remove_all(copy);
        }
        EXPECT_EQ(results[1].exitCode, keepGoing ? 3 : 1);
        EXPECT_EQ(results[4].exitCode, results[1].exitCode);
        EXPECT_EQ(results[4].err, results[1].err);
        EXPECT_EQ(results[1].err.rfind("palvex-cli: PICS/p6.jpg: JPEG error #", 0), 0u) << results[1].err;
        EXPECT_EQ(files[1].count("p3_32x32_50q(3).jpg"), 1u);
        EXPECT_EQ(files[1].size(), keepGoing ? 14u + 13u : 14u + 10u);
        EXPECT_TRUE(files[4] == files[1]);
    }

    CliResult r = RunCli({pics.string(), "--jobs=0"}, Work());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err.rfind("palvex-cli: option '--jobs' needs a number from 1 to 256\n", 0), 0u) << r.err;
    EXPECT_EQ(RunCli({pics.string(), "--jobs", "1000"}, Work()).exitCode, 2);
}

void ExpectOpenErrorAtOnce(const fs::path& picture)
{
    SCOPED_TRACE(picture.filename().string());
    const CliResult r = RunCli({picture.string(), "/convert"}, picture.parent_path(), std::chrono::seconds(5));
    EXPECT_FALSE(r.killed);
    EXPECT_LT(r.seconds, 1.0);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.rfind("palvex-cli: Cannot open file \"" + picture.string() + "\". ", 0), 0u) << r.err;
}

// What is no regular file never stops a run: as the picture it is an error, in
// a folder it is passed over (a folder named like a picture is reported), at once.
TEST_F(Cli, SpecialFilesEndInAnErrorOrAreSkippedAtOnce)
{
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    WriteJpeg(pics / "a.jpg", 16, 16);
    ASSERT_EQ(::mkfifo((pics / "fifo.jpg").c_str(), 0600), 0);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (pics / "socket.jpg").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("/dev/zero", pics / "zero.jpg");
    const auto before = Snapshot(pics);

    for (const char* name : {"fifo.jpg", "socket.jpg", "zero.jpg"})
        ExpectOpenErrorAtOnce(pics / name);
    CliResult r = RunCli({pics.string(), "/folder", "/convert"}, Work(), std::chrono::seconds(5));
    EXPECT_FALSE(r.killed);
    EXPECT_LT(r.seconds, 1.0);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(NewFiles(before, pics), Names{"a_16x16_100q.jpg"});

    fs::create_directory(pics / "x.jpg");
    r = RunCli({(pics / "x.jpg").string(), "/convert"}, Work(), std::chrono::seconds(5));
    EXPECT_LT(r.seconds, 1.0);
    EXPECT_EQ(r.err, "palvex-cli: Cannot open file \"" + (pics / "x.jpg").string() + "\". Is a directory.\n");
    ::close(listener);
}

// SIGKILL at random moments of folder runs: every file under a final name is
// a whole JPEG; what a killed run leaves is a partial file that says so, and a
// later run removes it.
TEST_F(Cli, KilledRunsLeaveNoCutFileUnderAPictureName)
{
    const fs::path pics = Work() / "pics";
    fs::create_directory(pics);
    Names sources;
    for (int i = 0; i < 8; ++i) {
        sources.push_back("p" + std::to_string(i) + ".jpg");
        WriteJpeg(pics / sources.back(), 480, 360);
    }
    const std::vector<std::string> arguments{pics.string(), "/folder", "/convert"};
    // One whole run: how long the kills may wait.
    const CliResult whole = RunCli(arguments, Work());
    ASSERT_EQ(whole.exitCode, 0) << whole.err;

    auto outputs = [&] {
        Names found;
        for (const auto& e : fs::directory_iterator(pics)) {
            const std::string name = e.path().filename().string();
            if (std::find(sources.begin(), sources.end(), name) == sources.end())
                found.push_back(name);
        }
        return found;
    };
    auto decodesWhole = [&](const std::string& name) {
        const std::string command = "/usr/bin/djpeg -outfile /dev/null '" + (pics / name).string() + "' 2>&1";
        FILE* p = ::popen(command.c_str(), "r");
        char line[256];
        std::string said;
        while (p && std::fgets(line, sizeof line, p))
            said += line;
        return p && ::pclose(p) == 0 && said.empty();
    };
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> moment(0, static_cast<int>(whole.seconds * 1e6));
    int finals = 0;
    for (int trial = 0; trial < 200; ++trial) {
        for (const std::string& name : outputs())
            if (name.ends_with(".jpg"))
                fs::remove(pics / name);
        const pid_t pid = StartCli(arguments, Work());
        ::usleep(static_cast<useconds_t>(moment(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        for (const std::string& name : outputs()) {
            if (name.ends_with(".part")) {
                EXPECT_TRUE(name.starts_with(".palvex-")) << name;
                continue;
            }
            ++finals;
            EXPECT_TRUE(decodesWhole(name)) << "trial " << trial << ": " << name << " is cut";
        }
        if (HasFailure())
            break;
    }
    // Some kills came after files were written (how many fell on a write
    // depends on how long the disk takes to flush: none on a RAM disk).
    EXPECT_GT(finals, 0);

    // A run after them removes what they left and writes every picture.
    for (const std::string& name : outputs())
        if (name.ends_with(".jpg"))
            fs::remove(pics / name);
    ASSERT_EQ(RunCli(arguments, Work()).exitCode, 0);
    const Names left = outputs();
    EXPECT_EQ(left.size(), sources.size());
    for (const std::string& name : left)
        EXPECT_TRUE(decodesWhole(name)) << name;
}

TEST_F(Cli, UsageHelpAndVersion)
{
    const std::string tryHelp = "Try 'palvex-cli --help' for more information.\n";
    CliResult r = RunCli({}, Work());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "palvex-cli: missing picture or folder PATH\n" + tryHelp);
    EXPECT_EQ(r.out, "");
    r = RunCli({"--help"}, Work());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("Usage: palvex-cli [OPTION...] PATH [OPTION...]\n", 0), 0u);
    EXPECT_NE(r.out.find("  --quality=N, /quality=N   JPEG quality, 1 to 100\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  2  bad options or usage"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    r = RunCli({"--version"}, Work());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.rfind("palvex-cli ", 0), 0u);
    EXPECT_NE(r.out.find("GPL"), std::string::npos);
    r = RunCli({"a.jpg", "--widht=5"}, Work());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.err, "palvex-cli: unrecognized option '--widht'\n" + tryHelp);
    EXPECT_TRUE(fs::is_empty(Work()));

    // The long forms run the same job as the keywords, from either side of the path.
    WriteJpeg(Work() / "a.jpg", 64, 48);
    r = RunCli({"--width", "32", "a.jpg", "--height=32", "--keep-aspect-ratio", "--quality", "50"}, Work());
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(JpegSize(Work() / "a_32x24_50q.jpg"), std::make_pair(32, 24));
}

// One sample of every reader family goes through a whole run: a JPEG fitted
// into 32x32 comes out, the source stays as it was.
TEST_F(Cli, ReducesEveryReaderFamily)
{
    const fs::path samples = test::DataDir();
    for (const char* sample : {"png/gen__png_gray4.png", "gif/gen__gif89_static.gif", "tif/gen__tif_cmyk8.tif",
                               "fax/gen__pbmtog3.fax", "tga/gen__oiio_rle32.tga", "pcx/gen__pcx_24bpp.pcc",
                               "sgi/extras__heart.rgb", "psd/gen__psd_cmyk8.psd", "pnm/gen__p2.pgm",
                               "bmp/bmpsuite_g_pal4rle.bmp", "ico/imagers__png-32bpp-alpha.ico"}) {
        SCOPED_TRACE(sample);
        const fs::path source = Work() / fs::path(sample).filename();
        fs::copy_file(samples / sample, source);
        const auto before = Snapshot(Work());
        const CliResult r = RunCli(With(source.string(), kScreen), Work());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const Names added = NewFiles(before, Work());
        ASSERT_EQ(added.size(), 1u);
        const auto [width, height] = JpegSize(Work() / added[0]);
        EXPECT_EQ(std::max(width, height), 32);
        EXPECT_GE(std::min(width, height), 1);
        ExpectUnchanged(before);
    }
}


// ---- photos as cameras write them

// The upright picture of the orientation test: four flat quadrants.
constexpr int32_t kUprightWidth = 32;
constexpr int32_t kUprightHeight = 48;
const TColor32 kQuadrants[4] = {Color32(200, 30, 30), Color32(30, 200, 30), Color32(30, 30, 200),
                                Color32(220, 220, 40)};

TColor32 Upright(int32_t x, int32_t y)
{
    return kQuadrants[(x >= kUprightWidth / 2 ? 1 : 0) + (y >= kUprightHeight / 2 ? 2 : 0)];
}

// Where stored pixel (x, y) of a w x h picture stands once upright, as the
// EXIF table says of each orientation.
std::pair<int32_t, int32_t> UprightPlace(uint16_t orientation, int32_t x, int32_t y, int32_t w, int32_t h)
{
    switch (orientation) {
    case 2: return {w - 1 - x, y};
    case 3: return {w - 1 - x, h - 1 - y};
    case 4: return {x, h - 1 - y};
    case 5: return {y, x};
    case 6: return {h - 1 - y, x};
    case 7: return {h - 1 - y, w - 1 - x};
    case 8: return {y, w - 1 - x};
    default: return {x, y};
    }
}

// The upright picture stored as a camera with orientation would store it, as
// a JPEG whose EXIF segment (big-endian, Orientation only) follows JFIF's.
std::string CameraJpeg(uint16_t orientation)
{
    const bool turned = orientation >= 5;
    const int32_t w = turned ? kUprightHeight : kUprightWidth, h = turned ? kUprightWidth : kUprightHeight;
    TBitmap32 stored;
    stored.SetSize(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const auto [ux, uy] = UprightPlace(orientation, x, y, w, h);
            stored.SetPixel(x, y, Upright(ux, uy));
        }
    TJPEGImage jpeg;
    jpeg.CompressPixels(stored);
    TMemoryStream out;
    jpeg.SaveStream(out);
    std::string bytes(out.Bytes().begin(), out.Bytes().end());
    const char exif[] = {'\xFF', '\xE1', 0, 34, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1,
                         1, 0x12, 0, 3, 0, 0, 0, 1, 0, char(orientation), 0, 0, 0, 0, 0, 0};
    const size_t afterJfif = 4 + ((uint8_t(bytes[4]) << 8) | uint8_t(bytes[5]));
    bytes.insert(afterJfif, exif, sizeof exif);
    return bytes;
}

std::unique_ptr<TBitmap32> Decoded(const fs::path& path)
{
    auto pixels = std::make_unique<TBitmap32>();
    LoadPictureFile(*pixels, path.string());
    return pixels;
}

TEST_F(Cli, EveryOrientationComesOutUprightAndWithoutEXIF)
{
    for (uint16_t o = 1; o <= 8; ++o)
        std::ofstream(Work() / ("o" + std::to_string(o) + ".jpg"), std::ios::binary) << CameraJpeg(o);
    const CliResult r = RunCli({Work().string(), "--folder", "/convert"}, Work());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    for (uint16_t o = 1; o <= 8; ++o) {
        SCOPED_TRACE(o);
        // The name carries the upright size: the size rule saw the turned picture.
        const fs::path out = Work() / ("o" + std::to_string(o) + "_32x48_100q.jpg");
        ASSERT_TRUE(fs::exists(out));
        const std::string bytes = ReadFileText(out);
        EXPECT_EQ(bytes.substr(0, 4), "\xFF\xD8\xFF\xE0");
        EXPECT_EQ(bytes.find("Exif"), std::string::npos);
        const auto pixels = Decoded(out);
        for (int32_t y : {6, 17, 30, 41})
            for (int32_t x : {4, 11, 20, 27}) {
                const TColor32 want = Upright(x, y), got = pixels->Pixel(x, y);
                for (int shift : {0, 8, 16})
                    EXPECT_NEAR(int((got >> shift) & 0xFF), int((want >> shift) & 0xFF), 12) << x << "," << y;
            }
    }
    // As stored when asked: sideways, with the stored size.
    fs::create_directory(Work() / "kept");
    fs::copy_file(Work() / "o6.jpg", Work() / "kept" / "o6.jpg");
    ASSERT_EQ(RunCli({(Work() / "kept" / "o6.jpg").string(), "/convert", "/noorientation"}, Work()).exitCode, 0);
    EXPECT_TRUE(fs::exists(Work() / "kept" / "o6_48x32_100q.jpg"));
}

TEST_F(Cli, ColourProfilesComeOutAsJpgiccConvertsThemToSRGB)
{
    // Display P3, Adobe RGB and a CMYK (YCCK) photo with its printing profile.
    const std::vector<std::string> photos{"gen__jpeg_display_p3.jpg", "gen__jpeg_adobe_rgb.jpg", "jpegdec__ycck.jpg"};
    for (const char* dir : {"theirs", "ours", "stored"})
        fs::create_directory(Work() / dir);
    for (const std::string& name : photos) {
        fs::copy_file(test::DataDir() / "jpeg" / name, Work() / "ours" / name);
        fs::copy_file(test::DataDir() / "jpeg" / name, Work() / "stored" / name);
        // jpgicc: the embedded profile to its built-in sRGB, perceptual.
        const std::string command = "/usr/bin/jpgicc -q100 '" + (Work() / "ours" / name).string() + "' '" +
                                    (Work() / "theirs" / name).string() + "' >/dev/null 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    // Both through the same encoder, which subsamples colour, so that only
    // the conversions differ.
    for (const char* dir : {"theirs", "ours"})
        ASSERT_EQ(RunCli({(Work() / dir).string(), "--folder", "/convert"}, Work()).exitCode, 0);
    ASSERT_EQ(RunCli({(Work() / "stored").string(), "--folder", "/convert", "/noprofile"}, Work()).exitCode, 0);
    for (const std::string& name : photos) {
        SCOPED_TRACE(name);
        const std::string stem = name.substr(0, name.size() - 4);
        const std::string out = stem + (stem == "jpegdec__ycck" ? "_500x333_100q.jpg" : "_96x64_100q.jpg");
        const auto theirs = Decoded(Work() / "theirs" / out);
        const auto [most, mean] = test::Difference(*Decoded(Work() / "ours" / out), *theirs);
        EXPECT_LE(mean, 1.0);
        EXPECT_LE(most, 10);
        // Without the conversion the colours are far off.
        EXPECT_GE(test::Difference(*Decoded(Work() / "stored" / out), *theirs).mean, 3.0);
    }
}

TEST_F(Cli, PicturesWithoutProfileOrOrientationGiveTheSameBytesAsStored)
{
    // No metadata; an sRGB profile (JPEG, PSD); EXIF orientation 1; PNG and TIFF without.
    const std::vector<std::string> samples{"jpeg/gen__jpeg_baseline_420.jpg", "jpeg/sail__bpp24-ycbcr.comment.iccp.jpeg",
                                           "jpeg/pillow__flower.jpg", "psd/sail__bpp24-rgb.psd",
                                           "png/gen__png_rgb48.png", "tif/gen__tif_lzw.tif"};
    for (const char* dir : {"default", "stored"})
        fs::create_directory(Work() / dir);
    for (const std::string& sample : samples) {
        SCOPED_TRACE(sample);
        const std::string name = fs::path(sample).filename().string();
        for (const char* dir : {"default", "stored"})
            fs::copy_file(test::DataDir() / sample, Work() / dir / name);
        const auto before = Snapshot(Work() / "default");
        ASSERT_EQ(RunCli(With((Work() / "default" / name).string(), kScreen), Work()).exitCode, 0);
        std::vector<std::string> asStored = kScreen;
        asStored.insert(asStored.end(), {"/noorientation", "/noprofile"});
        ASSERT_EQ(RunCli(With((Work() / "stored" / name).string(), asStored), Work()).exitCode, 0);
        const Names added = NewFiles(before, Work() / "default");
        ASSERT_EQ(added.size(), 1u);
        EXPECT_TRUE(ReadFileText(Work() / "default" / added[0]) == ReadFileText(Work() / "stored" / added[0]));
    }
}

} // namespace
} // namespace palvex

#endif
