#include "platform/PathRules.h"

namespace kino {

std::string PathPart(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return std::string(path.substr(0, slash + 1));
}

std::string FolderOf(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

std::string ExtensionOf(std::string_view path)
{
    const auto mark = path.find_last_of("./");
    if (mark == std::string_view::npos || path[mark] != '.')
        return {};
    return std::string(path.substr(mark));
}

namespace {
bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}
} // namespace

bool HasUriScheme(std::string_view text)
{
    const auto colon = text.find(':');
    // One letter before the colon is not taken as a scheme, so that a name such as
    // "C:movie.avi" copied from elsewhere still counts as a path.
    if (colon == std::string_view::npos || colon < 2 || !IsAsciiLetter(text[0]))
        return false;
    for (std::size_t i = 1; i < colon; ++i) {
        const char c = text[i];
        if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

std::string UrlSite(std::string_view text)
{
    if (!HasUriScheme(text))
        return {};
    const auto authority = text.find(':') + 3;
    if (text.substr(authority - 3, 3) != "://")
        return {};
    const auto end = text.find_first_of("/?#", authority);
    return std::string(text.substr(0, end));
}

std::string WithoutTrailingSlashes(std::string_view path)
{
    const auto last = path.find_last_not_of('/');
    if (last == std::string_view::npos)
        return path.empty() ? std::string() : std::string("/");
    return std::string(path.substr(0, last + 1));
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    while (!folder.empty() && folder.back() == '/')
        folder.remove_suffix(1);
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    std::string joined;
    joined.reserve(folder.size() + 1 + name.size());
    joined.append(folder).append(1, '/').append(name);
    return joined;
}

} // namespace kino
