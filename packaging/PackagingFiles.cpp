// Build-time tool: writes the files of an installation that repeat the
// program's own tables (the command-line options, the exit codes, the picture
// extensions, the maker) so that none of them is copied by hand:
//   fill TEMPLATE OUT [MANIFEST]  a template with its %MARKERS% filled (see Fill)
//   mime OUT                      shared-mime-info definitions of the extensions the system database lacks
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "framework/MakerInfo.h"
#include "imageio/FileFormats.h"
#include "job/CommandLine.h"

using namespace palvex;

namespace {

// The MIME type of every accepted extension. An entry with a comment is one the
// system database (shared-mime-info 2.2) does not know: its glob is installed by
// Palvex, added to an existing type where the format is that type.
struct TPictureMimeType {
    const char* Extension; // lower case, without the dot
    const char* MimeType;
    const char* Comment;   // English, for a type of our own; null for known ones
    const char* CzechComment;
    bool OwnGlob;          // the extension is unknown to shared-mime-info
};

constexpr TPictureMimeType kPictureMimeTypes[] = {
    {"jpg", "image/jpeg", nullptr, nullptr, false},
    {"jpeg", "image/jpeg", nullptr, nullptr, false},
    {"jpe", "image/jpeg", nullptr, nullptr, false},
    {"jfif", "image/jpeg", nullptr, nullptr, true},
    {"gif", "image/gif", nullptr, nullptr, false},
    {"tif", "image/tiff", nullptr, nullptr, false},
    {"tiff", "image/tiff", nullptr, nullptr, false},
    {"fax", "image/g3fax", nullptr, nullptr, true},
    {"ico", "image/vnd.microsoft.icon", nullptr, nullptr, false},
    {"bmp", "image/bmp", nullptr, nullptr, false},
    {"dib", "image/bmp", nullptr, nullptr, false},
    {"rle", "image/rle", nullptr, nullptr, false},
    {"emf", "image/emf", nullptr, nullptr, false},
    {"wmf", "image/wmf", nullptr, nullptr, false},
    {"png", "image/png", nullptr, nullptr, false},
    {"pbm", "image/x-portable-bitmap", nullptr, nullptr, false},
    {"pgm", "image/x-portable-graymap", nullptr, nullptr, false},
    {"ppm", "image/x-portable-pixmap", nullptr, nullptr, false},
    {"psd", "image/vnd.adobe.photoshop", nullptr, nullptr, false},
    {"pdd", "image/vnd.adobe.photoshop", nullptr, nullptr, true},
    {"sgi", "image/x-sgi", nullptr, nullptr, false},
    {"rgb", "image/x-rgb", nullptr, nullptr, false},
    {"rgba", "image/x-sgi", nullptr, nullptr, true},
    {"bw", "image/x-sgi", nullptr, nullptr, true},
    {"pcx", "image/vnd.zbrush.pcx", nullptr, nullptr, false},
    {"pcc", "image/vnd.zbrush.pcx", nullptr, nullptr, true},
    {"scr", "image/vnd.zbrush.pcx", nullptr, nullptr, true},
    {"eps", "image/x-eps", nullptr, nullptr, false},
    {"pcd", "image/x-photo-cd", nullptr, nullptr, false},
    {"tga", "image/x-tga", nullptr, nullptr, false},
    {"icb", "image/x-tga", nullptr, nullptr, false},
    {"vda", "image/x-tga", nullptr, nullptr, false},
    {"vst", "image/x-tga", nullptr, nullptr, false},
    {"win", "image/x-tga", nullptr, nullptr, true},
    {"rla", "image/x-rla", "Alias/Wavefront RLA image", "Obrázek Alias/Wavefront RLA", true},
    {"rpf", "image/x-rla", "Alias/Wavefront RLA image", "Obrázek Alias/Wavefront RLA", true},
    {"cel", "image/x-autodesk-cel", "Autodesk Animator image", "Obrázek Autodesk Animator", true},
    {"pic", "image/x-autodesk-cel", "Autodesk Animator image", "Obrázek Autodesk Animator", true},
    {"cut", "image/x-dr-halo-cut", "Dr. Halo image", "Obrázek Dr. Halo", true},
    {"psp", "image/x-paintshoppro", "Paint Shop Pro image", "Obrázek Paint Shop Pro", true},
};

// Our globs weigh less than the database's default 50, so that another
// program's definition of these rarer extensions wins.
constexpr int kOwnGlobWeight = 40;

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Fails the build when the table and the accepted extensions part ways.
bool CheckMimeTable()
{
    std::set<std::string> accepted;
    for (const std::string& extension : AcceptedExtensions())
        accepted.insert(Lower(extension.substr(1)));
    std::set<std::string> mapped;
    for (const TPictureMimeType& m : kPictureMimeTypes)
        if (!mapped.insert(m.Extension).second || !accepted.count(m.Extension)) {
            std::fprintf(stderr, "packaging: .%s is mapped twice or not accepted\n", m.Extension);
            return false;
        }
    for (const std::string& extension : accepted)
        if (!mapped.count(extension)) {
            std::fprintf(stderr, "packaging: accepted extension .%s has no MIME type\n", extension.c_str());
            return false;
        }
    return true;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

void Replace(std::string& text, const std::string& marker, const std::string& value)
{
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + value.size()))
        text.replace(at, marker.size(), value);
}

// Text for a roff line: backslashes escaped, no control character at the start.
std::string Roff(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\\' ? std::string("\\e") : std::string(1, c);
    if (!out.empty() && (out[0] == '.' || out[0] == '\''))
        out.insert(0, "\\&");
    return out;
}

// An option name in roff: its dashes are minus signs, so that it can be searched for and copied.
std::string RoffOption(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

std::string ManOptions(TOptionPrograms program)
{
    std::string roff;
    for (const TCommandLineOption& option : CommandLineOptions()) {
        if (!(option.Programs & program))
            continue;
        const std::string value = option.Value == TOptionValue::Number ? "=\\fIN\\fR" : "";
        std::string forms;
        if (option.LongName)
            forms += "\\fB" + RoffOption(std::string("--") + option.LongName) + "\\fR" + value;
        if (option.LongName && option.Keyword)
            forms += ", ";
        if (option.Keyword)
            forms += "\\fB" + Lower(option.Keyword) + "\\fR" + value;
        std::string help = Roff(option.Help);
        help[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(help[0])));
        roff += ".TP\n" + forms + "\n" + help + ".\n";
    }
    return roff;
}

std::string ManExitStatus()
{
    std::string roff;
    for (const TExitStatus& status : ExitStatuses()) {
        std::string meaning = Roff(status.Meaning);
        meaning[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(meaning[0])));
        roff += ".TP\n.B " + std::to_string(status.Code) + "\n" + meaning + ".\n";
    }
    return roff;
}

std::string ExtensionList()
{
    std::string text;
    for (const std::string& extension : AcceptedExtensions())
        text += (text.empty() ? "" : ", ") + Lower(extension.substr(1));
    return text;
}

std::string MimeTypeList()
{
    std::vector<std::string> types;
    for (const TPictureMimeType& m : kPictureMimeTypes)
        if (std::find(types.begin(), types.end(), m.MimeType) == types.end())
            types.push_back(m.MimeType);
    std::string list;
    for (const std::string& type : types)
        list += type + ";";
    return list;
}

int WriteMimeDefinitions(const std::string& out)
{
    std::map<std::string, std::vector<const TPictureMimeType*>> byType;
    for (const TPictureMimeType& m : kPictureMimeTypes)
        if (m.OwnGlob)
            byType[m.MimeType].push_back(&m);
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<!-- Picture extensions that Palvex reads and the shared MIME database lacks. -->\n"
                      "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    for (const auto& [type, entries] : byType) {
        xml += "  <mime-type type=\"" + type + "\">\n";
        if (entries.front()->Comment) {
            xml += std::string("    <comment>") + entries.front()->Comment + "</comment>\n";
            xml += std::string("    <comment xml:lang=\"cs\">") + entries.front()->CzechComment + "</comment>\n";
            xml += "    <generic-icon name=\"image-x-generic\"/>\n";
        }
        for (const TPictureMimeType* m : entries)
            xml += std::string("    <glob pattern=\"*.") + m->Extension + "\" weight=\"" +
                   std::to_string(kOwnGlobWeight) + "\"/>\n";
        xml += "  </mime-type>\n";
    }
    xml += "</mime-info>\n";
    return WriteFile(out, xml) ? 0 : 1;
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t'))
        fields.push_back(field);
    return fields;
}

// One DEP-5 stanza per source and licence of the fixtures in the manifest
// (columns: local path, format, variant, source repository, path in source,
// commit, licence, ...); nothing when the manifest does not exist.
std::string FixtureStanzas(const std::string& manifestPath, const std::string& prefix)
{
    std::ifstream in(manifestPath);
    std::map<std::pair<std::string, std::string>, std::vector<std::string>> groups;
    std::string line;
    bool header = true;
    while (std::getline(in, line)) {
        if (header || line.empty()) {
            header = false;
            continue;
        }
        const std::vector<std::string> f = SplitTabs(line);
        if (f.size() >= 7)
            groups[{f[3], f[6]}].push_back(prefix + f[0]);
    }
    std::string text;
    for (const auto& [key, files] : groups) {
        text += "Files:";
        for (const std::string& file : files)
            text += "\n " + file;
        // Pictures the project made from nothing are the project's; anything else keeps its source's terms.
        const bool own = key.second.find("no third-party content") != std::string::npos;
        text += "\nCopyright: " + (own ? std::string(kMakerCompany) : "the authors of " + key.first) +
                "\nLicense: " + (own ? std::string("GPL-3+") : "other") + "\n " + key.second + "\n\n";
    }
    return text;
}

int Fill(const std::string& templatePath, const std::string& out, const std::string& manifestPath)
{
    std::string text = ReadFile(templatePath);
    if (text.empty()) {
        std::fprintf(stderr, "packaging: cannot read %s\n", templatePath.c_str());
        return 1;
    }
    // Markers that stand on a line of their own take the line's end with them.
    Replace(text, "%OPTIONS_CLI%\n", ManOptions(kForCli));
    Replace(text, "%OPTIONS_DESKTOP%\n", ManOptions(kForDesktop));
    Replace(text, "%EXIT_STATUS%\n", ManExitStatus());
    Replace(text, "%FIXTURES%\n", manifestPath.empty() ? "" : FixtureStanzas(manifestPath, "tests/data/"));
    Replace(text, "%EXTENSIONS%", ExtensionList());
    Replace(text, "%MIME_TYPES%", MimeTypeList());
    Replace(text, "%MAKER%", kMakerCompany);
    Replace(text, "%HOMEPAGE%", kPalvexWebPage);
    Replace(text, "%SUPPORT_PAGE%", kMakerSupportPage);
    Replace(text, "%SUPPORT_EMAIL%", kMakerSupportEmail);
    return WriteFile(out, text) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> a(argv + 1, argv + argc);
    if (!CheckMimeTable())
        return 1;
    if ((a.size() == 3 || a.size() == 4) && a[0] == "fill")
        return Fill(a[1], a[2], a.size() == 4 ? a[3] : "");
    if (a.size() == 2 && a[0] == "mime")
        return WriteMimeDefinitions(a[1]);
    std::fputs("usage: palvex-packaging-files fill TEMPLATE OUT [MANIFEST] | mime OUT\n", stderr);
    return 2;
}
