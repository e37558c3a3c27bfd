#include "platform/AppPaths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/PathRules.h"

namespace kino {

namespace {

constexpr char kSettingsName[] = "KINOLITE.ini";

std::string HomeFolder()
{
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && entry->pw_dir[0] == '/')
        return entry->pw_dir;
    return "/";
}

// Creates `folder` and any missing parents. Configuration folders are private to
// the user (0700), as the desktop's conventions ask.
void MakeFolders(const std::string& folder)
{
    for (std::size_t pos = 1; pos <= folder.size(); ++pos) {
        if (pos != folder.size() && folder[pos] != '/')
            continue;
        const std::string prefix = folder.substr(0, pos);
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return;
    }
}

} // namespace

std::string ExecutablePath()
{
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0)
            return {};
        // A result that fills the buffer may have been cut short.
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string SettingsFilePath(const std::string& programFolder)
{
    if (!programFolder.empty() && access(programFolder.c_str(), W_OK) == 0)
        return JoinPath(programFolder, kSettingsName);

    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const std::string base = (xdg && xdg[0] == '/') ? std::string(xdg) : JoinPath(HomeFolder(), ".config");
    const std::string folder = JoinPath(base, "kinolite");
    MakeFolders(folder);
    return JoinPath(folder, kSettingsName);
}

} // namespace kino
