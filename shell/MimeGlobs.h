// The MIME types of file extensions, from shared-mime-info's glob database
// (mime/globs2 in the XDG data folders), for the file managers that offer
// entries by MIME type rather than by extension.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace palvex {

// Extension (lower case, no dot) to the picture types ("image/...") that a
// globs2 text gives it through a plain "*.ext" glob, in the file's order.
void ReadPictureGlobs(std::string_view globs2, std::map<std::string, std::vector<std::string>>& types);

// The picture types of the extensions, each once, from the person's and the
// system's databases. Extensions the database does not know give none.
std::vector<std::string> PictureMimeTypes(const std::vector<std::string>& extensions);

} // namespace palvex
