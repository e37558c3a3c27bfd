#include "player/engine/LocalSource.h"

#include <fcntl.h>
#include <glib.h>
#include <gst/gst.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/PathRules.h"
#include "platform/UniqueFd.h"
#include "player/elements/GstHandles.h"
#include "player/elements/StreamMends.h"
#include "player/engine/MidiCheck.h"

namespace kino {

LocalName LocalNameOf(const std::string& source)
{
    if (source.empty())
        return {};
    if (!HasUriScheme(source))
        return {LocalName::Local, source};
    if (g_ascii_strncasecmp(source.c_str(), "file:", 5) != 0)
        return {};
    // GLib takes the scheme in any case, "file:/p", "file:///p" and a host; the host
    // must be this machine's.
    gchar* host = nullptr;
    gchar* path = g_filename_from_uri(source.c_str(), &host, nullptr);
    LocalName name{LocalName::Invalid, {}};
    if (path && (!host || g_ascii_strcasecmp(host, "localhost") == 0))
        name = {LocalName::Local, path};
    g_free(path);
    g_free(host);
    return name;
}

LocalVerdict CheckLocalFile(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return LocalVerdict::Missing;
    if (!S_ISREG(st.st_mode))
        return LocalVerdict::NotRegular;
    switch (CheckMidiFile(path)) {
    case MidiVerdict::Sound:
        return LocalVerdict::Midi;
    case MidiVerdict::Damaged:
        return LocalVerdict::DamagedMidi;
    case MidiVerdict::NotMidi:
        break;
    }
    return LocalVerdict::Playable;
}

std::string UriFor(const std::string& source)
{
    if (HasUriScheme(source))
        return source;
    GError* rawError = nullptr;
    gsth::Text uri(gst_filename_to_uri(source.c_str(), &rawError));
    gsth::Error err(rawError);
    return uri ? std::string(uri.get()) : std::string();
}

std::string UriToOpenAhead(const std::string& source)
{
    const LocalName name = LocalNameOf(source);
    if (name.kind != LocalName::Local || CheckLocalFile(name.path) != LocalVerdict::Playable)
        return std::string();
    return UriFor(name.path);
}

std::string WaveFormatOf(const std::string& path)
{
    // Chunks before the format chunk ("JUNK", "LIST") are stepped over, within the
    // header's first few kilobytes; a file that says more than that is not looked into.
    constexpr std::streamoff kHeaderSpan = 4096;
    constexpr std::uint32_t kLongestFormat = 64;
    std::ifstream in(path, std::ios::binary);
    char riff[12];
    if (!in.read(riff, sizeof riff) || std::string(riff, 4) != "RIFF" || std::string(riff + 8, 4) != "WAVE")
        return std::string();
    const auto le32 = [](const char* p) {
        return std::uint32_t(std::uint8_t(p[0])) | std::uint32_t(std::uint8_t(p[1])) << 8 |
               std::uint32_t(std::uint8_t(p[2])) << 16 | std::uint32_t(std::uint8_t(p[3])) << 24;
    };
    char head[8];
    while (in.tellg() < kHeaderSpan && in.read(head, sizeof head)) {
        const std::uint32_t size = le32(head + 4);
        if (std::string(head, 4) != "fmt ") {
            in.seekg(std::streamoff(size) + (size & 1), std::ios::cur);
            continue;
        }
        if (size < 16 || size > kLongestFormat)
            return std::string();
        std::string format(size, '\0');
        return in.read(format.data(), size) ? format : std::string();
    }
    return std::string();
}

std::string KnownContainerOf(const std::string& path)
{
    // Without blocking: whatever was checked before, the name may now be a FIFO.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    char head[12];
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::read(fd.Get(), head, sizeof head) != ssize_t(sizeof head) || std::string(head, 4) != "RIFF")
        return std::string();
    const std::string form(head + 8, 4);
    return form == "AVI " ? "video/x-msvideo" : form == "WAVE" ? "audio/x-wav" : std::string();
}

namespace {

// The video codes of an AVI's stream format that GStreamer decodes with libav, upper case.
constexpr const char* kLibavVideoCodes[] = {
    "XVID", "DIVX", "DX50", "FMP4", "MP4V", "3IV2", "DIV3", "DIV4", "MP43", "MP42", "MPG4",
    "AP41", "H264", "X264", "AVC1", "DAVC", "MPG1", "MPG2", "WMV1", "WMV2", "WMV3", "WVC1",
};

bool IsLibavVideoCode(std::uint32_t compression)
{
    char code[5] = {};
    for (int i = 0; i < 4; ++i)
        code[i] = g_ascii_toupper(char((compression >> (8 * i)) & 0xFF));
    for (const char* known : kLibavVideoCodes)
        if (std::memcmp(code, known, 4) == 0)
            return true;
    return false;
}

} // namespace

bool DecodedByLibav(const std::string& path)
{
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.IsOpen() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // An AVI's header list comes first; a few kilobytes hold it.
    std::uint8_t head[16384];
    const ssize_t got = ::read(fd.Get(), head, sizeof head);
    if (got < 24)
        return false;
    const std::size_t size = std::size_t(got);
    // A pack header or a video sequence header; transport packets, 188 bytes apart.
    if (head[0] == 0 && head[1] == 0 && head[2] == 1 && (head[3] == 0xBA || head[3] == 0xB3))
        return true;
    if (size > 188 && head[0] == 0x47 && head[188] == 0x47)
        return true;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "AVI LIST", 8) != 0 ||
        std::memcmp(head + 20, "hdrl", 4) != 0)
        return false;
    const std::size_t listSize =
        std::size_t(head[16]) | std::size_t(head[17]) << 8 | std::size_t(head[18]) << 16 | std::size_t(head[19]) << 24;
    const std::vector<DibFormat> formats = VideoFormatsOfAviHeader(head + 20, std::min(listSize, size - 20));
    return !formats.empty() && IsLibavVideoCode(formats.front().compression);
}

} // namespace kino
