// The batch run over fake settings, list and progress view, with tiny pictures
// on disk and the output read back.
#include "job/BatchRun.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdlib.h>

#include "imageio/Bitmap.h"
#include "imageio/JPEGImage.h"
#include "imageio/Streams.h"
#include "imageio/PictureRows.h"
#include "imageio/decoders/FileFormatList.h"
#include "platform/Errors.h"
#include "raster/Bitmap32.h"
#include "raster/Stretch.h"

#include "TestMain.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;

// A binary portable pixmap: the left half black, the right half white.
void WritePpm(const fs::path& path, int width, int height)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << ' ' << height << "\n255\n";
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out.put(static_cast<char>(x < width / 2 ? 0 : 255));
}

using test::ReadFileText;

class FakeSettings : public ISettingsSource {
public:
    ReductionSettings CurrentSettings() override { return value; }
    ReductionSettings value;
};

class FakeList : public ISourceList {
public:
    int32_t Count() override { return static_cast<int32_t>(entries.size()); }
    std::optional<TSourceEntry> EntryAt(int32_t position) override
    {
        visited.push_back(position);
        if (position < 0 || position >= Count())
            return std::nullopt;
        return entries[static_cast<size_t>(position)];
    }
    std::vector<TSourceEntry> entries;
    std::vector<int32_t> visited;
};

class FakeProgress : public IProgressView {
public:
    explicit FakeProgress(std::vector<std::string>& log) : m_log(log) {}
    void Show() override { m_log.push_back("show"); }
    void Hide() override { m_log.push_back("hide"); }
    void SetBar(int32_t percent) override { m_log.push_back("bar " + std::to_string(percent)); }
    void SetLine(int32_t line, const std::string& text) override
    {
        m_log.push_back("line" + std::to_string(line) + " " + text);
    }

private:
    std::vector<std::string>& m_log;
};

// One run wired to the fakes; the message hook logs "messages" and then calls onMessages.
struct Harness {
    Harness()
    {
        fs::create_directory(out);
        settings.value.TargetFolder = out.string() + "/";
    }

    std::string Picture(const std::string& name, int width = 8, int height = 6)
    {
        const fs::path path = dir.Path() / name;
        WritePpm(path, width, height);
        return path.string();
    }
    void Add(const std::string& path, bool ticked = true) { list.entries.push_back({path, ticked}); }
    std::vector<std::string> Written() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(out))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<std::string> Logged(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& e : log)
            if (e.rfind(prefix, 0) == 0)
                found.push_back(e);
        return found;
    }
    std::string Target(const std::string& name) const { return "line2 Cíl: " + (out / name).string() + ".jpg"; }

    test::TempDir dir;
    fs::path out = dir.Path() / "out";
    TPictureFormatsScope formats;
    std::vector<std::string> log;
    FakeSettings settings;
    FakeList list;
    FakeProgress progress{log};
    std::function<void()> onMessages;
    TBatchRun run{settings, list, progress, [this] {
                      log.push_back("messages");
                      if (onMessages)
                          onMessages();
                  }};
};

using Names = std::vector<std::string>;

TEST(ProgressPercent, RoundsHalfToEven)
{
    EXPECT_EQ(ProgressPercent(1, 2), 50);
    EXPECT_EQ(ProgressPercent(1, 3), 33);
    EXPECT_EQ(ProgressPercent(2, 3), 67);
    EXPECT_EQ(ProgressPercent(1, 8), 12); // 12.5
    EXPECT_EQ(ProgressPercent(3, 8), 38); // 37.5
    EXPECT_EQ(ProgressPercent(7, 7), 100);
}

TEST(Go, OnePictureInStepOrder)
{
    Harness h;
    const std::string a = h.Picture("a.ppm");
    h.Add(a);
    h.run.Go();
    const Names expected{"show", "messages", "bar 0", "messages",
                         "bar 100", "line0 Soubor 1 z 1", "line1 Zdroj: " + a, "line2 ",
                         "messages", // progress lines set
                         "messages", // before loading
                         "messages", // after loading
                         "messages", // bitmaps sized
                         "messages", // stretched
                         h.Target("a"), "messages", // before writing
                         "messages",                // written
                         "hide", "messages"};
    EXPECT_EQ(h.log, expected);
    EXPECT_EQ(h.Written(), Names{"a.jpg"});
    EXPECT_FALSE(h.run.Running());
}

TEST(Go, TickedEntriesAndPositions)
{
    {
        // Entries 2 and 5 of six ticked: all six positions visited, n = 1 and 2.
        Harness h;
        for (int i = 1; i <= 6; ++i)
            h.Add(h.Picture("p" + std::to_string(i) + ".ppm"), i == 2 || i == 5);
        h.run.Go();
        EXPECT_EQ(h.Logged("bar"), (Names{"bar 0", "bar 50", "bar 100"}));
        EXPECT_EQ(h.Logged("line0"), (Names{"line0 Soubor 1 z 2", "line0 Soubor 2 z 2"}));
        EXPECT_EQ(h.Logged("line1"), (Names{"line1 Zdroj: " + h.list.entries[1].Path,
                                            "line1 Zdroj: " + h.list.entries[4].Path}));
        EXPECT_EQ(h.Written(), (Names{"p2.jpg", "p5.jpg"}));
        // Counted once, then each position once.
        EXPECT_EQ(h.list.visited, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}));
    }
    {
        Harness h;
        for (const char* name : {"a.ppm", "b.ppm", "c.ppm"})
            h.Add(h.Picture(name));
        h.run.Go();
        EXPECT_EQ(h.Logged("bar"), (Names{"bar 0", "bar 33", "bar 67", "bar 100"}));
        EXPECT_EQ(h.Logged("line0").back(), "line0 Soubor 3 z 3");
    }
    {
        // Ticks are read when a position is visited; the number of positions is
        // read once; a position that no longer holds an entry is skipped.
        Harness h;
        const std::string a = h.Picture("a.ppm"), b = h.Picture("b.ppm"), c = h.Picture("c.ppm");
        h.Add(a);
        h.Add(b, false);
        h.Add(c);
        h.Add(a, false);
        h.onMessages = [&] {
            if (h.log.size() >= 2 && h.log[h.log.size() - 2] == "line2 " && h.Written().empty()) {
                h.list.entries[1].Ticked = true; // ticked during the run
                h.list.entries[2].Ticked = false;
                h.list.entries.resize(3); // position 3 is gone
            }
        };
        h.run.Go();
        EXPECT_EQ(h.Written(), (Names{"a.jpg", "b.jpg"}));
        EXPECT_EQ(h.Logged("line0"), (Names{"line0 Soubor 1 z 2", "line0 Soubor 2 z 2"}));
    }
    {
        // Entries added during the run lie beyond the positions counted at its start.
        Harness h;
        h.Add(h.Picture("a.ppm"));
        h.onMessages = [&] {
            if (h.list.entries.size() == 1 && h.log[h.log.size() - 2] == "line2 ")
                h.list.entries.push_back({h.list.entries[0].Path, true});
        };
        h.run.Go();
        EXPECT_EQ(h.Written(), Names{"a.jpg"});
    }
    {
        // Nothing ticked: no progress shown, nothing written.
        Harness h;
        h.Add(h.Picture("a.ppm"), false);
        h.run.Go();
        EXPECT_EQ(h.Logged("show"), Names{});
        EXPECT_EQ(h.Written(), Names{});
    }
}

// Decoded pixel at (x, 0) of a written file, as its red channel.
int RedAt(const fs::path& path, int x)
{
    TBitmap32 bitmap;
    LoadPictureFile(bitmap, path.string());
    return static_cast<int>((bitmap.Pixel(x, 0) >> 16) & 0xFF);
}

TEST(Go, SettingsReadWhenNeeded)
{
    Harness h;
    const fs::path other = h.dir.Path() / "other";
    fs::create_directory(other);
    h.settings.value.AddParameters = true;
    h.settings.value.MaxWidth = "16";
    h.settings.value.SetScalePercent(1000);
    h.settings.value.SetFilterIndex(0); // nearest: a hard edge
    h.Add(h.Picture("a.ppm", 2, 2));
    h.Add(h.Picture("b.ppm", 2, 2));
    int picture = 0;
    h.onMessages = [&] {
        if (h.log.size() < 2)
            return;
        const std::string& last = h.log[h.log.size() - 2];
        if (last == "line2 " && picture++ == 0) {
            // After the progress lines, before loading: size and naming follow.
            h.settings.value.SetFilterIndex(2);
            h.settings.value.MaxWidth = "12";
            h.settings.value.NamePrefix = "p-";
            h.settings.value.SetQuality(77);
        } else if (last.rfind("line2 Cíl: ", 0) == 0 && picture == 1) {
            // The name is chosen: from the next picture on.
            h.settings.value.NamePrefix = "late-";
            h.settings.value.TargetFolder = other.string() + "/";
        }
    };
    h.run.Go();
    EXPECT_EQ(h.Written(), Names{"p-a_12x20_77q.jpg"});
    ASSERT_TRUE(fs::exists(other / "late-b_12x20_77q.jpg"));
    // The filter was taken once at the start: both are nearest-neighbour.
    // (Linear would give about 106 at x = 5.)
    EXPECT_LT(RedAt(h.out / "p-a_12x20_77q.jpg", 5), 50);
    EXPECT_LT(RedAt(other / "late-b_12x20_77q.jpg", 5), 50);
}

// The bytes the encoder makes of the picture at path stretched to width x height.
std::string ReferenceJpeg(const std::string& path, int32_t width, int32_t height, TStretchFilter filter, int quality)
{
    TBitmap32 source, stretched;
    LoadPictureFile(source, path);
    stretched.SetSize(width, height);
    StretchCopy(&stretched, stretched.FullRect(), stretched.FullRect(), &source, source.FullRect(), filter, dmOpaque,
                {});
    TBitmap plain;
    stretched.CopyTo(plain);
    TJPEGImage jpeg;
    jpeg.AssignFrom(&plain);
    jpeg.SetEncodingQuality(static_cast<uint8_t>(quality));
    TMemoryStream bytes;
    jpeg.SaveStream(bytes);
    return std::string(bytes.Bytes().begin(), bytes.Bytes().end());
}

TEST(Go, OutputIsTheEncodedStretch)
{
    Harness h;
    // Colours that differ per channel, so that a swapped channel shows.
    const fs::path path = h.dir.Path() / "c.ppm";
    {
        std::ofstream out(path, std::ios::binary);
        out << "P6\n9 7\n255\n";
        for (int i = 0; i < 9 * 7; ++i)
            out << static_cast<char>(i * 4) << static_cast<char>(255 - i * 3) << static_cast<char>(i % 7 * 30);
    }
    h.Add(path.string());
    h.settings.value.SetQuality(90);
    h.run.Go(); // same size: copied, not resampled
    EXPECT_TRUE(ReadFileText(h.out / "c.jpg") == ReferenceJpeg(path.string(), 9, 7, sfNearest, 90));
    h.settings.value.MaxWidth = "5";
    h.settings.value.SetFilterIndex(4);
    h.run.Go();
    EXPECT_TRUE(ReadFileText(h.out / "c(2).jpg") == ReferenceJpeg(path.string(), 5, 7, sfSpline, 90));

    // JPEG sources, in colour and in grey, at their own size and stretched.
    for (const bool grey : {false, true}) {
        TBitmap32 pixels;
        pixels.SetSize(19, 11);
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 19; ++x)
                pixels.SetPixel(x, y, Color32(x * 13, y * 23, (x * y) % 256));
        TBitmap plain;
        pixels.CopyTo(plain);
        TJPEGImage jpeg;
        jpeg.AssignFrom(&plain);
        jpeg.SetGrayscaleMode(grey);
        const std::string name = grey ? "grey" : "colour";
        const std::string jpegPath = (h.dir.Path() / (name + ".jpg")).string();
        jpeg.SaveFile(jpegPath);
        h.list.entries = {{jpegPath, true}};
        h.settings.value.MaxWidth = "10000";
        h.run.Go();
        EXPECT_TRUE(ReadFileText(h.out / (name + ".jpg")) == ReferenceJpeg(jpegPath, 19, 11, sfNearest, 90)) << name;
        h.settings.value.MaxWidth = "7";
        h.run.Go();
        EXPECT_TRUE(ReadFileText(h.out / (name + "(2).jpg")) == ReferenceJpeg(jpegPath, 7, 11, sfSpline, 90)) << name;
    }
}

TEST(Go, NamingExamples)
{
    Harness h;
    const std::string source = h.Picture("IMG_0001.ppm", 8, 2);
    h.Add(source);
    auto runWith = [&](auto change) {
        ReductionSettings saved = h.settings.value;
        change(h.settings.value);
        h.run.Go();
        h.settings.value = saved;
    };
    runWith([](ReductionSettings&) {});
    EXPECT_TRUE(fs::exists(h.out / "IMG_0001.jpg"));
    runWith([](ReductionSettings& s) {
        s.AddParameters = true;
        s.SetQuality(50);
        s.SetScalePercent(1000);
        s.KeepAspectRatio = true;
        s.MaxWidth = "26";
        s.MaxHeight = "30";
    });
    // 8 x 2 into 26 x 30: h0 = 6.5 goes to the even 6.
    EXPECT_TRUE(fs::exists(h.out / "IMG_0001_26x6_50q.jpg"));
    runWith([](ReductionSettings& s) {
        s.NamePrefix = "web-";
        s.NameSuffix = "-s";
    });
    EXPECT_TRUE(fs::exists(h.out / "web-IMG_0001-s.jpg"));
    // Two generations of the plain name exist now: the next is (3).
    h.run.Go();
    h.run.Go();
    EXPECT_TRUE(fs::exists(h.out / "IMG_0001(2).jpg"));
    EXPECT_TRUE(fs::exists(h.out / "IMG_0001(3).jpg"));
    // Sequential numbers count ticked entries of this run, from 1 in every run.
    h.list.entries = {{source, true}, {source, false}, {source, true}, {source, true}};
    runWith([](ReductionSettings& s) { s.SequentialNames = true; });
    runWith([](ReductionSettings& s) { s.SequentialNames = true; });
    for (const char* name : {"00000001", "00000002", "00000003", "00000001(2)", "00000003(2)"})
        EXPECT_TRUE(fs::exists(h.out / (std::string(name) + ".jpg"))) << name;
    EXPECT_FALSE(fs::exists(h.out / "00000004.jpg"));
}

TEST(Go, CollisionsIgnoreCaseAndRaces)
{
    Harness h;
    const std::string a = h.Picture("a.ppm");
    h.Add(a);
    // Existing names in other letter cases count; another extension does not.
    for (const char* existing : {"A.JPG", "a(2).Jpg", "a(3).png", "a(4)"})
        std::ofstream(h.out / existing) << existing;
    h.run.Go();
    EXPECT_EQ(h.Written(), (Names{"A.JPG", "a(2).Jpg", "a(3).jpg", "a(3).png", "a(4)"}));
    EXPECT_EQ(ReadFileText(h.out / "A.JPG"), "A.JPG");
    EXPECT_EQ(ReadFileText(h.out / "a(2).Jpg"), "a(2).Jpg");

    // Another program takes the chosen name between the test and the creation.
    h.onMessages = [&] {
        if (h.log.size() >= 2 && h.log[h.log.size() - 2] == h.Target("a(4)"))
            std::ofstream(h.out / "a(4).jpg") << "theirs";
    };
    h.run.Go();
    EXPECT_EQ(ReadFileText(h.out / "a(4).jpg"), "theirs");
    EXPECT_TRUE(fs::exists(h.out / "a(5).jpg"));
    EXPECT_EQ(h.Logged("line2 Cíl"), (Names{h.Target("a(3)"), h.Target("a(4)"), h.Target("a(5)")}));
}

TEST(Go, ZeroOrNegativeSideWritesOnePixel)
{
    Harness h;
    h.settings.value.AddParameters = true;
    h.settings.value.SetScalePercent(1); // 40 x 30 at 1 % is 0 x 0
    h.Add(h.Picture("a.ppm", 40, 30));
    h.run.Go();
    ASSERT_EQ(h.Written(), Names{"a_1x1_100q.jpg"});
    TBitmap32 back;
    LoadPictureFile(back, (h.out / "a_1x1_100q.jpg").string());
    EXPECT_EQ(back.Width(), 1);
    EXPECT_EQ(back.Height(), 1);

    h.settings.value.SetScalePercent(100);
    h.settings.value.MaxWidth = "-5";
    h.run.Go();
    EXPECT_TRUE(fs::exists(h.out / "a_1x30_100q.jpg"));
}

TEST(Go, EmptyPictureGivesBlackNotAnEarlierPicture)
{
    // A 0-byte .jpg loads as an empty picture; its result must not show the
    // pixels of the picture before it, whose freed block it may get.
    Harness h;
    h.settings.value.AddParameters = true;
    h.settings.value.MaxWidth = "40";
    h.settings.value.MaxHeight = "30";
    const std::string white = h.Picture("w.ppm", 80, 60);
    std::ofstream(h.dir.Path() / "e.jpg", std::ios::binary).flush();
    for (int round = 0; round < 3; ++round) {
        h.Add(white);
        h.Add((h.dir.Path() / "e.jpg").string());
    }
    h.run.Go();
    int checked = 0;
    for (const auto& name : h.Written()) {
        if (name.rfind("e_", 0) != 0)
            continue;
        TBitmap32 back;
        LoadPictureFile(back, (h.out / name).string());
        ASSERT_FALSE(back.IsEmpty()) << name;
        for (size_t i = 0; i < back.PixelCount(); ++i)
            ASSERT_EQ(back.PixelData()[i] & 0xFFFFFFu, 0u) << name << " pixel " << i;
        ++checked;
    }
    EXPECT_EQ(checked, 3);
}

TEST(Go, ErrorNamesThePictureAndEndsTheRunWithNothingWritten)
{
    {
        Harness h;
        h.Add(h.Picture("a.ppm"));
        const std::string bad = (h.dir.Path() / "b.xyz").string();
        std::ofstream(bad) << "x";
        h.Add(bad);
        h.Add(h.Picture("c.ppm"));
        EXPECT_THROW_MSG(h.run.Go(), EInvalidGraphic, bad + ": Unknown picture file extension (.xyz)");
        EXPECT_EQ(h.Written(), Names{"a.jpg"});
        // Hidden, with a last turn for the messages, before the error leaves Go.
        ASSERT_GE(h.log.size(), 2u);
        EXPECT_EQ(h.log[h.log.size() - 2], "hide");
        EXPECT_EQ(h.Logged("line0").back(), "line0 Soubor 2 z 3");
        EXPECT_FALSE(h.run.Running());
    }
    {
        Harness h;
        h.settings.value.MinHeight = "abc";
        const std::string a = h.Picture("a.ppm");
        h.Add(a);
        EXPECT_THROW_MSG(h.run.Go(), EConvertError, a + ": 'abc' is not a valid integer value");
        EXPECT_EQ(h.Written(), Names{});
        EXPECT_EQ(h.Logged("hide").size(), 1u);
    }
    {
        Harness h;
        const std::string missing = (h.dir.Path() / "missing").string();
        h.settings.value.TargetFolder = missing + "/";
        const std::string a = h.Picture("a.ppm");
        h.Add(a);
        EXPECT_THROW_MSG(h.run.Go(), EFCreateError,
                         a + ": Cannot create file \"" + missing + "/a.jpg\". No such file or directory");
        EXPECT_FALSE(fs::exists(missing));
    }
}

TEST(Go, SecondGoDuringRunDoesNothing)
{
    Harness h;
    h.Add(h.Picture("a.ppm"));
    h.Add(h.Picture("b.ppm"));
    int nested = 0;
    h.onMessages = [&] {
        if (h.run.Running() && nested < 3) {
            ++nested;
            h.run.Go();
        }
    };
    h.run.Go();
    EXPECT_EQ(nested, 3);
    EXPECT_EQ(h.Logged("show").size(), 1u);
    EXPECT_EQ(h.Written(), (Names{"a.jpg", "b.jpg"}));
    // Once it has ended, a new run starts as usual.
    h.onMessages = nullptr;
    h.run.Go();
    EXPECT_EQ(h.Written().size(), 4u);
}

TEST(StartRun, NeedsTargetFolder)
{
    Harness h;
    h.Add(h.Picture("a.ppm"));
    h.settings.value.TargetFolder.clear();
    std::vector<std::string> shown;
    EXPECT_FALSE(StartRun(h.run, h.settings, [&](const std::string& text) { shown.push_back(text); }));
    EXPECT_EQ(shown, Names{"Nejprve vyberte cílové umístění!"});
    EXPECT_TRUE(h.log.empty());

    h.settings.value.TargetFolder = h.out.string(); // no trailing delimiter: one is added
    EXPECT_TRUE(StartRun(h.run, h.settings, [&](const std::string& text) { shown.push_back(text); }));
    EXPECT_EQ(shown.size(), 1u);
    EXPECT_EQ(h.Written(), Names{"a.jpg"});
}

// What a run with some number of jobs leaves: the target folder's files with
// their bytes, the progress calls, and the failures in the order reported.
struct JobsOutcome {
    std::map<std::string, std::string> files;
    std::vector<std::string> progress;
    std::vector<std::string> failures;
    bool operator==(const JobsOutcome&) const = default;
};

JobsOutcome RunWithJobs(const std::vector<TSourceEntry>& entries, ReductionSettings settings, const fs::path& out,
                        int32_t jobs, bool keepGoing)
{
    fs::create_directory(out);
    // Names taken before the run: the "(k)" of the collisions depend on them.
    for (const char* existing : {"p2_20x14_90q.jpg", "P4_20X13_90Q.JPG", "00000003.jpg", "00000005(2).jpg"})
        std::ofstream(out / existing) << existing;
    settings.TargetFolder = out.string() + "/";
    FakeSettings source;
    source.value = settings;
    FakeList list;
    list.entries = entries;
    JobsOutcome outcome;
    FakeProgress progress(outcome.progress);
    TBatchRun run(source, list, progress);
    run.SetJobs(jobs);
    if (keepGoing)
        run.SetFailureHandler([&](const std::exception& e) { outcome.failures.push_back(e.what()); });
    try {
        run.Go();
    } catch (const std::exception& e) {
        outcome.failures.push_back(std::string("ended: ") + e.what());
    }
    for (const auto& e : fs::directory_iterator(out))
        outcome.files[e.path().filename().string()] = ReadFileText(e.path());
    fs::remove_all(out);
    return outcome;
}

// Several workers reduce the pictures, out of order; names, "(k)" collisions,
// sequential numbers, bytes, progress lines and failures must still be those
// of one job, and an error must leave nothing of the pictures after it.
TEST(Go, JobsWriteWhatOneJobWrites)
{
    TPictureFormatsScope formats;
    test::TempDir tmp;
    // On a RAM disk when there is one: each published file is flushed to the disk.
    const fs::path root = fs::is_directory("/dev/shm") ? fs::path(::mkdtemp(std::string("/dev/shm/palvex-XXXXXX").data()))
                                                       : tmp.Path();
    struct Cleanup {
        fs::path dir;
        ~Cleanup() { fs::remove_all(dir); }
    } cleanup{root};
    fs::create_directories(root / "a");
    fs::create_directories(root / "b");
    // Forty pictures; each name comes twice (a/pK, b/pK), sizes vary so that
    // later pictures often finish first.
    std::vector<TSourceEntry> entries;
    for (int i = 0; i < 40; ++i) {
        const fs::path path = root / (i % 2 ? "b" : "a") / ("p" + std::to_string(i / 2) + ".ppm");
        const bool large = i % 9 == 0;
        WritePpm(path, large ? 480 : 6 + i * 7 % 40, large ? 360 : 4 + i * 5 % 30);
        entries.push_back({path.string(), true});
    }
    std::ofstream(root / "bad.jpg") << "this is no JPEG file";
    entries[20].Path = (root / "bad.jpg").string();
    entries[31].Path = (root / "odd.xyz").string();
    entries[12].Ticked = false;

    ReductionSettings settings;
    settings.MaxWidth = "20";
    settings.MaxHeight = "20";
    settings.KeepAspectRatio = true;
    settings.SetScalePercent(1000);
    settings.SetQuality(90);
    settings.AddParameters = true;
    ReductionSettings numbered = settings;
    numbered.SequentialNames = true;
    numbered.AddParameters = false;

    for (const bool keepGoing : {false, true}) {
        SCOPED_TRACE(keepGoing ? "keep going, numbered" : "first error ends");
        const ReductionSettings& used = keepGoing ? numbered : settings;
        const JobsOutcome one = RunWithJobs(entries, used, root / "out", 1, keepGoing);
        // The reference itself: the failure in the middle, collisions resolved.
        ASSERT_EQ(one.failures.size(), keepGoing ? 2u : 1u) << one.failures[0];
        EXPECT_EQ(one.files.count(keepGoing ? "00000003(2).jpg" : "p2_20x14_90q(3).jpg"), 1u);
        EXPECT_EQ(one.files.count(keepGoing ? "00000005.jpg" : "p4_20x13_90q(2).jpg"), 1u);
        EXPECT_EQ(one.files.size(), keepGoing ? 4u + 37u : 4u + 19u);
        for (int round = 0; round < 50; ++round) {
            const JobsOutcome four = RunWithJobs(entries, used, root / "out", 4, keepGoing);
            ASSERT_TRUE(four == one) << "round " << round << ": " << four.files.size() << " files, "
                                     << (four.failures.empty() ? "" : four.failures[0]);
        }
    }
}

} // namespace
} // namespace palvex
