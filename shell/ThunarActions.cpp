#include "shell/ThunarActions.h"

#include "shell/EntryCommand.h"

namespace palvex {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Where the element starting at pos ends, skipping comments and CDATA, which
// may quote tags; npos when it does not end.
size_t SkipQuoted(std::string_view text, size_t pos)
{
    if (text.substr(pos).starts_with("<!--")) {
        const size_t end = text.find("-->", pos + 4);
        return end == std::string_view::npos ? end : end + 3;
    }
    if (text.substr(pos).starts_with("<![CDATA[")) {
        const size_t end = text.find("]]>", pos + 9);
        return end == std::string_view::npos ? end : end + 3;
    }
    return pos;
}

} // namespace

std::string EscapeXml(std::string_view text)
{
    return Escaped(text, {{'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}});
}

std::string ThunarAction(std::string_view uniqueId, std::string_view name, std::string_view icon,
                         std::string_view command, std::string_view patterns,
                         std::initializer_list<std::string_view> types)
{
    std::string action = "<action>\n";
    const auto element = [&](std::string_view tag, std::string_view value) {
        action += "\t<" + std::string(tag) + ">" + EscapeXml(value) + "</" + std::string(tag) + ">\n";
    };
    element("icon", icon);
    element("name", name);
    element("unique-id", uniqueId);
    element("command", command);
    element("description", name);
    element("patterns", patterns);
    for (const std::string_view type : types)
        action += "\t<" + std::string(type) + "/>\n";
    return action + "</action>\n";
}

std::string WithoutPalvexActions(std::string_view text)
{
    const std::string idStart = std::string("<unique-id>") + kThunarIdPrefix;
    std::string out;
    size_t copied = 0;
    size_t pos = 0;
    while ((pos = text.find('<', pos)) != std::string_view::npos) {
        const size_t skipped = SkipQuoted(text, pos);
        if (skipped != pos) {
            pos = skipped;
            continue;
        }
        const std::string_view rest = text.substr(pos);
        if (!rest.starts_with("<action") || rest.size() < 8 || (rest[7] != '>' && !IsBlank(rest[7]) && rest[7] != '\n')) {
            ++pos;
            continue;
        }
        const size_t close = text.find("</action>", pos);
        if (close == std::string_view::npos)
            break;
        size_t end = close + 9;
        if (text.substr(pos, end - pos).find(idStart) == std::string_view::npos) {
            pos = end;
            continue;
        }
        // An action alone on its lines goes with its indentation and line end.
        size_t begin = pos;
        while (begin > copied && IsBlank(text[begin - 1]))
            --begin;
        const bool lineStart = begin == 0 || text[begin - 1] == '\n';
        size_t after = end;
        while (after < text.size() && IsBlank(text[after]))
            ++after;
        if (after < text.size() && text[after] == '\n') {
            end = after + 1;
            if (!lineStart)
                begin = pos;
        } else {
            begin = pos;
        }
        out.append(text.substr(copied, begin - copied));
        copied = end;
        pos = end;
    }
    out.append(text.substr(copied));
    return out;
}

std::optional<std::string> WithActionsAdded(std::string_view text, std::string_view actions)
{
    size_t close = std::string_view::npos;
    for (size_t pos = 0; (pos = text.find('<', pos)) != std::string_view::npos;) {
        const size_t skipped = SkipQuoted(text, pos);
        if (skipped == std::string_view::npos)
            break;
        if (skipped != pos) {
            pos = skipped;
            continue;
        }
        if (text.substr(pos).starts_with("</actions>"))
            close = pos;
        ++pos;
    }
    if (close == std::string_view::npos)
        return std::nullopt;
    size_t at = close;
    while (at > 0 && IsBlank(text[at - 1]))
        --at;
    if (at != 0 && text[at - 1] != '\n')
        at = close;
    std::string out(text.substr(0, at));
    out += actions;
    out += text.substr(at);
    return out;
}

} // namespace palvex
