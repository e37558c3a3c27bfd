#include "player/engine/MidiCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <optional>

namespace kino {

namespace {

// Larger than any real MIDI file by far; the framework's parser would read it whole.
constexpr std::size_t kMaxMidiBytes = 64u << 20;

class Reader {
public:
    explicit Reader(std::string_view bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ >= bytes_.size(); }
    std::size_t Left() const { return bytes_.size() - pos_; }

    std::optional<std::uint8_t> Byte()
    {
        if (AtEnd())
            return std::nullopt;
        return std::uint8_t(bytes_[pos_++]);
    }

    std::optional<std::uint32_t> BigEndian(int count)
    {
        if (Left() < std::size_t(count))
            return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 8) | std::uint8_t(bytes_[pos_++]);
        return value;
    }

    // A variable-length number: at most four bytes, seven bits each.
    std::optional<std::uint32_t> VarLen()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            auto byte = Byte();
            if (!byte)
                return std::nullopt;
            value = (value << 7) | (*byte & 0x7f);
            if (!(*byte & 0x80))
                return value;
        }
        return std::nullopt;
    }

    std::optional<std::string_view> Take(std::size_t n)
    {
        if (Left() < n)
            return std::nullopt;
        std::string_view part = bytes_.substr(pos_, n);
        pos_ += n;
        return part;
    }

private:
    std::string_view bytes_;
    std::size_t pos_ = 0;
};

bool TrackHolds(std::string_view track)
{
    Reader reader(track);
    std::uint8_t running = 0;
    while (!reader.AtEnd()) {
        if (!reader.VarLen())
            return false; // the delta time
        auto first = reader.Byte();
        if (!first)
            return false;
        std::uint8_t status = *first;
        const bool runningStatus = status < 0x80;
        if (runningStatus) {
            // This byte is already the first data byte of a repeated channel message.
            if (running == 0)
                return false;
            status = running;
        }
        if (status == 0xff) {
            auto type = reader.Byte();
            auto length = reader.VarLen();
            if (!type || !length)
                return false;
            auto data = reader.Take(*length);
            if (!data)
                return false;
            if (*type == 0x51) {
                // A tempo of zero microseconds per quarter note would stop time.
                if (data->size() != 3 || (data->at(0) == 0 && data->at(1) == 0 && data->at(2) == 0))
                    return false;
            }
            running = 0;
            if (*type == 0x2f)
                return true; // end of track; anything after it is never read
        } else if (status == 0xf0 || status == 0xf7) {
            auto length = reader.VarLen();
            if (!length || !reader.Take(*length))
                return false;
            running = 0;
        } else if (status >= 0xf0) {
            return false; // system messages other than exclusive have no place in a file
        } else {
            const std::uint8_t kind = status & 0xf0;
            int count = (kind == 0xc0 || kind == 0xd0) ? 1 : 2;
            if (runningStatus)
                --count;
            for (int i = 0; i < count; ++i) {
                auto byte = reader.Byte();
                if (!byte || *byte >= 0x80)
                    return false;
            }
            running = status;
        }
    }
    return true;
}

MidiVerdict CheckStandardMidi(std::string_view bytes)
{
    Reader reader(bytes);
    auto id = reader.Take(4);
    if (!id || *id != "MThd")
        return MidiVerdict::NotMidi;
    auto headerLength = reader.BigEndian(4);
    if (!headerLength || *headerLength < 6 || *headerLength > reader.Left())
        return MidiVerdict::Damaged;
    auto header = reader.Take(*headerLength);
    Reader headerReader(*header);
    const std::uint32_t format = *headerReader.BigEndian(2);
    const std::uint32_t tracks = *headerReader.BigEndian(2);
    const std::uint32_t division = *headerReader.BigEndian(2);
    if (format > 2 || tracks == 0 || (format == 0 && tracks != 1))
        return MidiVerdict::Damaged;
    if (division & 0x8000) {
        // Frames per second (as a negative byte) and ticks per frame.
        const int fps = -std::int8_t(division >> 8);
        if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || (division & 0xff) == 0)
            return MidiVerdict::Damaged;
    } else if (division == 0) {
        return MidiVerdict::Damaged;
    }

    std::uint32_t found = 0;
    while (reader.Left() >= 8) {
        auto type = reader.Take(4);
        auto length = reader.BigEndian(4);
        if (*length > reader.Left())
            return MidiVerdict::Damaged;
        auto body = reader.Take(*length);
        if (*type == "MTrk") {
            ++found;
            if (!TrackHolds(*body))
                return MidiVerdict::Damaged;
        }
    }
    return found == tracks ? MidiVerdict::Sound : MidiVerdict::Damaged;
}

// A RIFF "RMID" file carries a standard MIDI file in its "data" chunk.
MidiVerdict CheckRiffMidi(std::string_view bytes)
{
    Reader reader(bytes);
    auto riff = reader.Take(4);
    auto size = reader.BigEndian(4);
    auto form = reader.Take(4);
    if (!riff || *riff != "RIFF" || !size || !form || *form != "RMID")
        return MidiVerdict::NotMidi;
    while (reader.Left() >= 8) {
        auto id = reader.Take(4);
        auto raw = reader.Take(4);
        const auto* p = reinterpret_cast<const unsigned char*>(raw->data());
        const std::uint32_t length = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
        if (length > reader.Left())
            return MidiVerdict::Damaged;
        auto body = reader.Take(length);
        if (*id == "data")
            return CheckStandardMidi(*body) == MidiVerdict::Sound ? MidiVerdict::Sound : MidiVerdict::Damaged;
        if (length % 2 == 1)
            reader.Take(1); // chunks are padded to even lengths
    }
    return MidiVerdict::Damaged;
}

} // namespace

MidiVerdict CheckMidi(std::string_view bytes)
{
    if (bytes.substr(0, 4) == "MThd")
        return CheckStandardMidi(bytes);
    if (bytes.substr(0, 4) == "RIFF" && bytes.size() >= 12 && bytes.substr(8, 4) == "RMID")
        return CheckRiffMidi(bytes);
    return MidiVerdict::NotMidi;
}

MidiVerdict CheckMidiFile(const std::string& path)
{
    // Non-blocking, so that a FIFO or device given by mistake never holds the window.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return MidiVerdict::NotMidi;
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    char head[12];
    const ssize_t got = (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) ? ::read(fd, head, sizeof head) : -1;
    if (got < 4 || CheckMidi(std::string_view(head, std::size_t(got))) == MidiVerdict::NotMidi)
        return MidiVerdict::NotMidi;
    if (std::size_t(st.st_size) > kMaxMidiBytes)
        return MidiVerdict::Damaged;
    std::string bytes(std::size_t(st.st_size), '\0');
    std::size_t have = 0;
    if (::lseek(fd, 0, SEEK_SET) == 0) {
        while (have < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + have, bytes.size() - have);
            if (n <= 0)
                break;
            have += std::size_t(n);
        }
    }
    bytes.resize(have);
    return CheckMidi(bytes);
}

} // namespace kino
