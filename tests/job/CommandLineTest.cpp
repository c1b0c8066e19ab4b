// Options into settings, and the list of an unattended run in file and folder mode.
#include "job/CommandLine.h"

#include <fstream>
#include <sys/stat.h>

#include "job/Presets.h"
#include "platform/Errors.h"
#include "platform/UpperCase.h"

#include "TestMain.h"

namespace palvex {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

ReductionSettings Applied(const Args& options)
{
    ReductionSettings s;
    ApplyCommandLineOptions(options, s);
    return s;
}

TEST(CommandLine, DigitsOf)
{
    EXPECT_EQ(DigitsOf("/width=800"), "800");
    EXPECT_EQ(DigitsOf("/q=1a2"), "12");
    EXPECT_EQ(DigitsOf("/HEIGHT"), "");
    EXPECT_EQ(DigitsOf("-7 ²½"), "7"); // only ASCII digits, no sign
}

TEST(CommandLine, KeywordsOneByOne)
{
    EXPECT_EQ(Applied({"/Width=640"}).MaxWidth, "640");
    EXPECT_EQ(Applied({"/WIDTH640"}).MaxWidth, "640");
    EXPECT_EQ(Applied({"/height=480"}).MaxHeight, "480");
    EXPECT_EQ(Applied({"/height"}).MaxHeight, "");
    const ReductionSettings both = Applied({"/WIDTH=8/HEIGHT=6"});
    EXPECT_EQ(both.MaxWidth, "86");
    EXPECT_EQ(both.MaxHeight, "86");
    EXPECT_EQ(Applied({"/quality=50"}).Quality(), 50);
    EXPECT_EQ(Applied({"/QUALITY=150"}).Quality(), 100);
    EXPECT_EQ(Applied({"/QUALITY=0"}).Quality(), 1);
    EXPECT_EQ(Applied({"/process=2"}).FilterIndex(), 2);
    EXPECT_EQ(Applied({"/PROCESS=7"}).FilterIndex(), -1);
    EXPECT_EQ(FilterForIndex(Applied({"/PROCESS=7"}).FilterIndex()), sfLinear);
    EXPECT_TRUE(Applied({"/keepaspectratio"}).KeepAspectRatio);
    EXPECT_TRUE(Applied({"x/DetectPortraitY"}).DetectPortrait); // text around is ignored
    const ReductionSettings plain = Applied({"width=5", "/šířka=3", ""});
    EXPECT_EQ(plain.MaxWidth, "10000");

    ReductionSettings s;
    EXPECT_FALSE(ApplyCommandLineOptions({"/width=5"}, s));
    EXPECT_TRUE(ApplyCommandLineOptions({"/width=5", "/Folder"}, s));
    EXPECT_TRUE(ApplyCommandLineOptions({"a/FOLDERS"}, s));
}

TEST(CommandLine, PresetKeywords)
{
    struct Case {
        const char* option;
        const char* preset;
    };
    for (const Case c : {Case{"/convert", "opt100"}, Case{"/photo1015", "opt9"}, Case{"/PHOTO1319", "opt10"},
                         Case{"/Photo1523", "opt11"}, Case{"/photo2030", "opt12"}, Case{"/base4", "base4"},
                         Case{"/BASE16", "base16"}}) {
        ReductionSettings s;
        s.KeepAspectRatio = true;
        s.DetectPortrait = true;
        s.NamePrefix = "keep";
        s.SetQuality(3);
        ApplyCommandLineOptions({c.option}, s);
        const TPreset& p = *FindPreset(c.preset);
        EXPECT_EQ(s.Quality(), p.Quality) << c.option;
        EXPECT_EQ(s.ScalePercent(), p.ScalePercent) << c.option;
        EXPECT_EQ(s.MinWidth, p.MinWidth) << c.option;
        EXPECT_EQ(s.MinHeight, p.MinHeight) << c.option;
        EXPECT_EQ(s.MaxWidth, p.MaxWidth) << c.option;
        EXPECT_EQ(s.MaxHeight, p.MaxHeight) << c.option;
        EXPECT_EQ(s.FilterIndex(), p.FilterIndex) << c.option;
        EXPECT_EQ(s.KeepAspectRatio, p.KeepAspectRatio) << c.option;
        EXPECT_EQ(s.DetectPortrait, p.DetectPortrait) << c.option;
        EXPECT_EQ(s.NamePrefix, "keep") << c.option;
    }
    // /CONVERT is the only way to turn the two flags off again.
    const ReductionSettings off = Applied({"/keepaspectratio", "/detectportrait", "/convert"});
    EXPECT_FALSE(off.KeepAspectRatio);
    EXPECT_FALSE(off.DetectPortrait);
}

TEST(CommandLine, OrderOfApplication)
{
    // Later arguments overwrite earlier ones.
    EXPECT_EQ(Applied({"/CONVERT", "/WIDTH=800"}).MaxWidth, "800");
    EXPECT_EQ(Applied({"/WIDTH=800", "/CONVERT"}).MaxWidth, "10000");
    EXPECT_EQ(Applied({"/quality=20", "/quality=30"}).Quality(), 30);
    // Within one argument the table's order rules, not the text's.
    EXPECT_EQ(Applied({"/CONVERT/WIDTH=5"}).MaxWidth, "10000");
    EXPECT_EQ(Applied({"/QUALITY=5/CONVERT"}).Quality(), 100);
    const ReductionSettings photo = Applied({"/photo1015/width=99"});
    EXPECT_EQ(photo.MaxWidth, "1536");
    EXPECT_EQ(photo.MaxHeight, "1536");
    // Both photo presets in one argument: the later table row wins.
    EXPECT_EQ(Applied({"/base16/photo1015"}).MinWidth, "3072");
}

TEST(CommandLine, MissingDigitsFail)
{
    ReductionSettings s;
    EXPECT_THROW_MSG(ApplyCommandLineOptions({"/width=5", "/QUALITY", "/height=7"}, s), EConvertError,
                     "'' is not a valid integer value");
    EXPECT_EQ(s.MaxWidth, "5");
    EXPECT_EQ(s.MaxHeight, "10000"); // the rest is not applied
    EXPECT_THROW_MSG(ApplyCommandLineOptions({"/process="}, s), EConvertError, "'' is not a valid integer value");

    ReductionSettings run;
    EXPECT_THROW_MSG(PrepareUnattendedRun({"/img/a.png", "/quality=x"}, run), EConvertError,
                     "'' is not a valid integer value");
    EXPECT_TRUE(run.TargetFolder.empty());
    EXPECT_FALSE(run.AddParameters);
}

// Long options mirror the keywords; they may come before the path and end at "--".
TEST(CommandLine, LongOptions)
{
    ReductionSettings s;
    TCommandLine c = ParseCommandLine({"--width", "800", "--quality=50", "--keep-aspect-ratio", "a.png",
                                       "/height=600", "--process", "3", "--folder"},
                                      s);
    EXPECT_EQ(c.Path, "a.png");
    EXPECT_EQ(s.MaxWidth, "800");
    EXPECT_EQ(s.MaxHeight, "600");
    EXPECT_EQ(s.Quality(), 50);
    EXPECT_EQ(s.FilterIndex(), 3);
    EXPECT_TRUE(s.KeepAspectRatio);
    EXPECT_TRUE(c.Choices.FolderMode);
    EXPECT_EQ(s.ScalePercent(), 1000);

    // Argument order decides between the two forms, as between two keywords.
    ReductionSettings order;
    ParseCommandLine({"a.png", "--convert", "/width=640", "--quality=150", "--width", "0320"}, order);
    EXPECT_EQ(order.MaxWidth, "0320");
    EXPECT_EQ(order.Quality(), 100);

    // After "--" nothing is a long option: the path may start with dashes, and
    // later arguments are keyword options that ignore text without a keyword.
    ReductionSettings dashes;
    c = ParseCommandLine({"--width=9", "--", "--help", "--version/width=12"}, dashes);
    EXPECT_EQ(c.Path, "--help");
    EXPECT_FALSE(c.Choices.ShowHelp);
    EXPECT_EQ(dashes.MaxWidth, "12");

    // Help and version end the reading: a later bad option is not an error.
    ReductionSettings h;
    EXPECT_TRUE(ParseCommandLine({"--help", "--bogus"}, h).Choices.ShowHelp);
    EXPECT_TRUE(ParseCommandLine({"a.png", "/width=5", "--version"}, h).Choices.ShowVersion);
    EXPECT_TRUE(PrepareUnattendedRun(Args{"--help"}, h).empty());
}

TEST(CommandLine, UsageErrors)
{
    ReductionSettings s;
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--bogus"}, s), EUsageError, "unrecognized option '--bogus'");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--WIDTH=5"}, s), EUsageError, "unrecognized option '--WIDTH'");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--width"}, s), EUsageError,
                     "option '--width' requires an argument");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--quality="}, s), EUsageError,
                     "option '--quality' needs a whole number, not ''");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--height", "/width=5"}, s), EUsageError,
                     "option '--height' needs a whole number, not '/width=5'");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--width=-5"}, s), EUsageError,
                     "option '--width' needs a whole number, not '-5'");
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--convert=yes"}, s), EUsageError,
                     "option '--convert' doesn't allow an argument");
    EXPECT_THROW_MSG(ParseCommandLine({"--convert", "--width=5"}, s), EUsageError, "missing picture or folder PATH");
    EXPECT_THROW_MSG(ParseCommandLine({"--"}, s), EUsageError, "missing picture or folder PATH");
    // A number too large for the settings is the keyword form's conversion error.
    EXPECT_THROW_MSG(ParseCommandLine({"a.png", "--quality=99999999999"}, s), EConvertError,
                     "'99999999999' is not a valid integer value");
}

// Every row can be reached: keywords and long names are unique, a keyword is
// found by its own text and by no other row's, and the help names every form.
TEST(CommandLine, OptionTableIsConsistent)
{
    const std::string help = CommandLineHelp(kForBoth);
    for (const TCommandLineOption& a : CommandLineOptions()) {
        ASSERT_TRUE(a.Keyword || a.LongName);
        ASSERT_TRUE(a.Help && a.Apply);
        if (a.LongName) {
            EXPECT_NE(help.find(std::string("--") + a.LongName), std::string::npos) << a.LongName;
            EXPECT_EQ(std::string(a.LongName).find_first_of("=ABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos);
        }
        for (const TCommandLineOption& b : CommandLineOptions()) {
            if (&a == &b)
                continue;
            if (a.LongName && b.LongName) {
                EXPECT_STRNE(a.LongName, b.LongName);
            }
            // A keyword inside another one would fire with it ("/BASE1" in "/BASE16").
            if (a.Keyword && b.Keyword) {
                EXPECT_EQ(std::string(b.Keyword).find(a.Keyword), std::string::npos) << a.Keyword << " in " << b.Keyword;
            }
        }
        if (a.Keyword) {
            EXPECT_EQ(a.Keyword[0], '/');
            EXPECT_EQ(std::string(a.Keyword), UpperCase(a.Keyword));
        }
    }
    for (const std::string& line : {std::string("  --width=N, /width=N"), std::string("  --help  ")})
        EXPECT_NE(help.find(line), std::string::npos) << line;
}

TEST(UnattendedRun, FileMode)
{
    ReductionSettings s;
    s.SourceFolder = "/src/";
    const Args entries = PrepareUnattendedRun(
        {"/x/img/a.png", "/keepaspectratio", "/width=800", "/height=600", "/quality=50", "/process=2"}, s);
    EXPECT_EQ(entries, Args{"/x/img/a.png"});
    EXPECT_EQ(s.ScalePercent(), 1000);
    EXPECT_EQ(s.MinWidth, "0");
    EXPECT_EQ(s.MinHeight, "0");
    EXPECT_EQ(s.MaxWidth, "800");
    EXPECT_EQ(s.MaxHeight, "600");
    EXPECT_TRUE(s.KeepAspectRatio);
    EXPECT_FALSE(s.DetectPortrait);
    EXPECT_EQ(s.Quality(), 50);
    EXPECT_EQ(FilterForIndex(s.FilterIndex()), sfLinear);
    EXPECT_TRUE(s.AddParameters);
    EXPECT_EQ(s.TargetFolder, "/x/img/");
    EXPECT_EQ(s.SourceFolder, "/src/");
    EXPECT_FALSE(s.SequentialNames);
    EXPECT_EQ(s.NamePrefix, "");
    EXPECT_EQ(s.NameSuffix, "");
    EXPECT_EQ(ComputeTargetSize(3000, 2000, s), (TargetSize{800, 533}));

    // An option in the first argument is the path; the scale is still 1000.
    ReductionSettings c;
    EXPECT_EQ(PrepareUnattendedRun({"/CONVERT"}, c), Args{"/CONVERT"});
    EXPECT_EQ(c.ScalePercent(), 1000);
    EXPECT_EQ(c.Quality(), 100);
    EXPECT_EQ(c.TargetFolder, "/");
    // A bare name is in the current folder, not at the root.
    ReductionSettings bare;
    PrepareUnattendedRun({"a.png"}, bare);
    EXPECT_EQ(bare.TargetFolder, "./");
    ReductionSettings relative;
    PrepareUnattendedRun({"pics/a.png"}, relative);
    EXPECT_EQ(relative.TargetFolder, "pics/");
    // No arguments: nothing to do, nothing set.
    ReductionSettings none;
    EXPECT_TRUE(PrepareUnattendedRun({}, none).empty());
    EXPECT_EQ(none.ScalePercent(), 100);
}

TEST(UnattendedRun, FolderModeListsJpegEntries)
{
    test::TempDir dir;
    const fs::path d = dir.Path();
    for (const char* name : {"b.JPG", "a.jpg", "c.Jpg", ".h.jpg", "d.png", "e.jpeg", "f.jpg.png"})
        std::ofstream(d / name) << "x";
    fs::create_directory(d / "x.jpg");
    fs::create_directory(d / "sub");
    std::ofstream(d / "sub" / "deep.jpg") << "x";
    ASSERT_EQ(::mkfifo((d / "p.jpg").c_str(), 0600), 0);
    fs::create_symlink(d / "gone", d / "dangling.jpg");
    fs::create_symlink(d / "a.jpg", d / "link.jpg");

    for (const std::string& given : {d.string(), d.string() + "/"}) {
        ReductionSettings s;
        const Args entries = PrepareUnattendedRun({given, "/convert", "/folder"}, s);
        const std::string folder = d.string() + "/";
        EXPECT_EQ(entries, (Args{folder + ".h.jpg", folder + "a.jpg", folder + "b.JPG", folder + "c.Jpg",
                                 folder + "link.jpg", folder + "x.jpg"}));
        EXPECT_EQ(s.TargetFolder, folder);
        EXPECT_EQ(s.SourceFolder, folder);
        EXPECT_TRUE(s.AddParameters);
        EXPECT_EQ(s.Quality(), 100);
    }
    ReductionSettings s;
    EXPECT_TRUE(PrepareUnattendedRun({(d / "sub").string(), "/FOLDER"}, s).size() == 1);
    EXPECT_TRUE(PrepareUnattendedRun({(d / "missing").string(), "/FOLDER"}, s).empty());
}

} // namespace
} // namespace palvex
