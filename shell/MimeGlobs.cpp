#include "shell/MimeGlobs.h"

#include "shell/FileManagerEntries.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace palvex {

void ReadPictureGlobs(std::string_view globs2, std::map<std::string, std::vector<std::string>>& types)
{
    size_t start = 0;
    while (start < globs2.size()) {
        size_t end = globs2.find('\n', start);
        if (end == std::string_view::npos)
            end = globs2.size();
        const std::string_view line = globs2.substr(start, end - start);
        start = end + 1;
        // weight:type:glob[:flags[:...]]
        const size_t first = line.find(':');
        const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (line.empty() || line.front() == '#' || second == std::string_view::npos)
            continue;
        const std::string_view type = line.substr(first + 1, second - first - 1);
        std::string_view glob = line.substr(second + 1);
        glob = glob.substr(0, glob.find(':'));
        if (!type.starts_with("image/") || !glob.starts_with("*.") || glob.size() < 3 ||
            glob.find_first_of("*?[", 2) != std::string_view::npos)
            continue;
        std::string extension(glob.substr(2));
        std::transform(extension.begin(), extension.end(), extension.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        std::vector<std::string>& list = types[extension];
        if (std::find(list.begin(), list.end(), type) == list.end())
            list.emplace_back(type);
    }
}

std::vector<std::string> PictureMimeTypes(const std::vector<std::string>& extensions)
{
    std::map<std::string, std::vector<std::string>> globs;
    for (const std::string& folder : XdgDataFolders()) {
        std::ifstream in(folder + "/mime/globs2", std::ios::binary);
        if (!in)
            continue;
        std::stringstream text;
        text << in.rdbuf();
        ReadPictureGlobs(text.str(), globs);
    }
    std::vector<std::string> result;
    for (const std::string& extension : extensions) {
        const auto it = globs.find(extension);
        if (it == globs.end())
            continue;
        for (const std::string& type : it->second)
            if (std::find(result.begin(), result.end(), type) == result.end())
                result.push_back(type);
    }
    return result;
}

} // namespace palvex
