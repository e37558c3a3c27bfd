#include "PlaylistInputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace kino::bench {

namespace {

namespace fs = std::filesystem;

const char* const kStampName = ".kino-tree-stamp";

// Every media kind, in several letter cases, so matching has to ignore case.
const char* const kMediaExtensions[] = {
    ".avi",  ".MPG", ".mpeg", ".Wav", ".WAVE", ".mid",  ".Midi", ".AVI",  ".mpg", ".MPEG", ".wav",
    ".wave", ".MID", ".midi", ".Avi", ".Mpg",  ".Mpeg", ".WAV",  ".Wave", ".Mid", ".MIDI",
};
// Not media; the last ones end like media only before another extension.
const char* const kOtherExtensions[] = {".txt", ".jpg", ".JPG", ".Txt", ".avi.txt", ".mid.bak"};

std::string ReadStamp(const fs::path& stamp)
{
    std::ifstream in(stamp);
    std::string line;
    std::getline(in, line);
    return line;
}

bool MakeEmptyFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

} // namespace

int TreeLayout::MediaFiles() const
{
    int media = 0;
    for (int f = 0; f < filesPerFolder; ++f)
        media += f % mediaEvery == 0;
    return media * Folders();
}

std::string TreeLayout::Describe() const
{
    std::ostringstream out;
    out << "v1 " << topFolders << " top folders x " << subFolders << " subfolders x " << filesPerFolder
        << " files, media 1 in " << mediaEvery;
    return out.str();
}

std::string EnsureMediaTree(const std::string& root, const TreeLayout& layout, bool& reused)
{
    reused = false;
    std::error_code ec;
    const fs::path base(root);
    const fs::path stamp = base / kStampName;
    if (fs::exists(stamp, ec)) {
        if (ReadStamp(stamp) == layout.Describe()) {
            reused = true;
            return {};
        }
        return "'" + root + "' holds a tree of another layout (" + ReadStamp(stamp) +
               "); remove it or choose another --tree";
    }
    if (fs::exists(base, ec) && !fs::is_empty(base, ec))
        return "'" + root + "' exists, is not empty and is not a generated tree; choose another --tree";
    fs::create_directories(base, ec);
    if (ec)
        return "cannot create '" + root + "': " + ec.message();

    int serial = 0;
    int mediaSerial = 0;
    int otherSerial = 0;
    char name[64];
    for (int t = 0; t < layout.topFolders; ++t) {
        std::snprintf(name, sizeof name, "Top%02d", t);
        const std::string top = (base / name).string();
        for (int s = 0; s < layout.subFolders; ++s) {
            std::snprintf(name, sizeof name, "sub%02d", s);
            const std::string sub = top + "/" + name;
            fs::create_directories(sub, ec);
            if (ec)
                return "cannot create '" + sub + "': " + ec.message();
            for (int f = 0; f < layout.filesPerFolder; ++f, ++serial) {
                const char* ext = f % layout.mediaEvery == 0
                                      ? kMediaExtensions[mediaSerial++ % std::size(kMediaExtensions)]
                                      : kOtherExtensions[otherSerial++ % std::size(kOtherExtensions)];
                std::snprintf(name, sizeof name, "/file%06d%s", serial, ext);
                if (!MakeEmptyFile(sub + name))
                    return "cannot create '" + sub + name + "': " + std::strerror(errno);
            }
        }
    }
    std::ofstream out(stamp);
    out << layout.Describe() << "\n";
    if (!out)
        return "cannot write '" + stamp.string() + "'";
    return {};
}

std::vector<std::string> ShuffledPlaylistPaths(int count, std::uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<std::string> paths;
    paths.reserve(std::size_t(std::max(0, count)));
    char buf[128];
    // Distinct by the clip number, so no two collate equal even with case ignored.
    for (int i = 0; i < count; ++i) {
        const unsigned variant = rng();
        const char* home = variant % 17 == 0 ? "/home/user/Media" : "/home/user/media";
        const char* folder = variant % 5 == 0 ? "Folder" : variant % 7 == 0 ? "FOLDER" : "folder";
        const char* clip = (variant >> 8) % 4 == 0 ? "Clip" : (variant >> 8) % 9 == 0 ? "CLIP" : "clip";
        const char* ext = (variant >> 16) % 6 == 0 ? ".AVI" : (variant >> 16) % 11 == 0 ? ".Avi" : ".avi";
        std::snprintf(buf, sizeof buf, "%s/%s%03d/%s%05d%s", home, folder, i / 100, clip, i, ext);
        paths.emplace_back(buf);
    }
    std::shuffle(paths.begin(), paths.end(), rng);
    return paths;
}

long ResidentKb()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace kino::bench
