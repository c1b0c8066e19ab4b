#include "job/OutputNaming.h"

#include "platform/Errors.h"
#include "platform/Files.h"

namespace palvex {

std::string ParameterSuffix(int32_t width, int32_t height, int32_t quality)
{
    return Format("_%dx%d_%dq", width, height, quality);
}

std::string CutExtension(std::string_view fileName)
{
    const size_t dot = fileName.rfind('.');
    return std::string(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
}

std::string BaseName(std::string_view path, bool sequentialNames, int32_t n)
{
    if (sequentialNames)
        return Format("%08d", n);
    return CutExtension(ExtractFileName(path));
}

std::string OutputName(std::string_view prefix, std::string_view baseName, std::string_view suffix,
                       std::string_view parameterSuffix)
{
    std::string name;
    name.reserve(prefix.size() + baseName.size() + suffix.size() + parameterSuffix.size());
    name.append(prefix).append(baseName).append(suffix).append(parameterSuffix);
    return name;
}

std::string CandidateName(std::string_view outputName, int32_t k)
{
    if (k <= 1)
        return std::string(outputName);
    return std::string(outputName) + Format("(%d)", k);
}

} // namespace palvex
