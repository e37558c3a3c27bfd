#include "platform/IniFile.h"

#include "platform/PathRules.h"

// Keys and values are 8-bit text kept byte for byte: no conversion, so names
// that are not UTF-8 survive a read and a write unchanged.
#define SI_NO_CONVERSION
#include <SimpleIni.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace kino {

namespace {

// A settings file holds a handful of keys; anything larger is not one of ours
// and is not worth parsing on every read.
constexpr off_t kMaxSettingsSize = 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Sets `value` from hexadecimal digits; false when there are none, when a
// character is not a digit, or when the value needs more than 32 bits.
bool ParseHex(std::string_view digits, int& value)
{
    if (digits.empty())
        return false;
    std::uint64_t v = 0;
    for (const char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + static_cast<std::uint64_t>(d);
        if (v > 0xFFFFFFFFu)
            return false;
    }
    // Eight hex digits are a 32-bit pattern: 0xFFFFFFFF is -1, as the value
    // a 32-bit integer holds after the same digits are read into it.
    value = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    return true;
}

bool ParseDecimal(std::string_view text, int& value)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    std::int64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > std::int64_t{INT32_MAX} + 1)
            return false;
    }
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    value = static_cast<int>(v);
    return true;
}

// What was found at the settings path.
enum class Content { Missing, Text, NotText, NotRegular, Unreadable };

struct Loaded {
    Content content = Content::Missing;
    std::string text;
    mode_t mode = 0;
};

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
private:
    int fd_;
};

// Reads the whole file when it is a regular file of sensible size without NUL
// bytes. O_NONBLOCK keeps a FIFO at the path from blocking the open; the type
// is checked on the opened descriptor so it cannot change in between.
Loaded LoadSettingsText(const std::string& path)
{
    Loaded loaded;
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        struct stat st {};
        if (errno == ENOENT || errno == ENOTDIR)
            loaded.content = Content::Missing;
        else if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
            loaded.content = Content::NotRegular;
        else
            loaded.content = Content::Unreadable;
        return loaded;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        loaded.content = Content::Unreadable;
        return loaded;
    }
    if (!S_ISREG(st.st_mode)) {
        loaded.content = Content::NotRegular;
        return loaded;
    }
    loaded.mode = st.st_mode & 07777;
    if (st.st_size > kMaxSettingsSize) {
        loaded.content = Content::NotText;
        return loaded;
    }
    // The size is checked again while reading, in case the file grew since fstat.
    std::string text;
    char chunk[16 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            loaded.content = Content::Unreadable;
            return loaded;
        }
        if (n == 0)
            break;
        text.append(chunk, static_cast<std::size_t>(n));
        if (text.size() > static_cast<std::size_t>(kMaxSettingsSize)) {
            loaded.content = Content::NotText;
            return loaded;
        }
    }
    if (text.find('\0') != std::string::npos) {
        loaded.content = Content::NotText;
        return loaded;
    }
    loaded.content = Content::Text;
    loaded.text = std::move(text);
    return loaded;
}

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && (IsBlank(s.front()) || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// Whether the parser keeps this line as a section header or a key; blank lines,
// comments and malformed lines are not kept.
bool IsKeptLine(std::string_view line)
{
    line = TrimBlanks(line);
    if (line.empty() || line.front() == ';' || line.front() == '#')
        return false;
    if (line.front() == '[')
        return line.find(']') != std::string_view::npos;
    const auto equals = line.find('=');
    return equals != std::string_view::npos && equals > 0;
}

// The parser attaches a comment to the section or key after it, so comments
// (and stray lines) after the last key have nothing to hang on and would be
// dropped on saving. This returns that text so it can be put back at the end.
std::string TrailingText(std::string_view text)
{
    constexpr std::string_view kUtf8Signature = "\xEF\xBB\xBF";
    if (text.substr(0, kUtf8Signature.size()) == kUtf8Signature)
        text.remove_prefix(kUtf8Signature.size());

    std::size_t tailStart = 0;
    // Comment lines that open the file, from its first column on, are kept by
    // the parser as the file's own comment.
    bool inFileComment = true;
    for (std::size_t lineStart = 0; lineStart < text.size();) {
        auto lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string_view::npos)
            lineEnd = text.size();
        const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
        const std::size_t next = lineEnd < text.size() ? lineEnd + 1 : lineEnd;
        inFileComment = inFileComment && !line.empty() && (line.front() == ';' || line.front() == '#');
        if (inFileComment || IsKeptLine(line))
            tailStart = next;
        lineStart = next;
    }

    std::string_view tail = text.substr(tailStart);
    while (!tail.empty()) {
        const auto eol = tail.find('\n');
        if (!TrimBlanks(tail.substr(0, eol)).empty())
            break;
        tail.remove_prefix(eol == std::string_view::npos ? tail.size() : eol + 1);
    }
    std::string result(tail);
    if (!result.empty() && result.back() != '\n')
        result.push_back('\n');
    return result;
}

// A value with blanks at its ends, or one that is itself quoted, is written in
// quotes, since reading drops both the blanks and one pair of quotes.
std::string StoredValue(const std::string& value)
{
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (!value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || quoted))
        return '"' + value + '"';
    return value;
}

// Names and values that would not read back as the same entry: line breaks
// anywhere, an empty key, "=" in a key, "]" in a section name.
bool CanStore(const std::string& section, const std::string& key, const std::string& value)
{
    const auto hasLineBreak = [](const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; };
    return !hasLineBreak(section) && !hasLineBreak(key) && !hasLineBreak(value) && !key.empty() &&
           key.find('=') == std::string::npos && section.find(']') == std::string::npos;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t n = ::write(fd, data.data() + written, data.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// Creates a new file beside `target` (so that the rename stays on one file
// system). Created with mode 0666 so the user's umask applies, as it would to
// any new file; mkstemp's fixed 0600 would not.
int CreateTemporaryBeside(const std::string& target, std::string& tempPath)
{
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device seed;
    std::mt19937 random(seed());
    std::uniform_int_distribution<int> pick(0, sizeof kChars - 2);
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = target + ".tmp";
        for (int i = 0; i < 6; ++i)
            tempPath.push_back(kChars[pick(random)]);
        const int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The file a write replaces: when the settings path is a symbolic link, the file
// it points to is replaced and the link kept.
std::string ReplacementTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            std::string target(resolved);
            std::free(resolved);
            return target;
        }
    }
    return path;
}

void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

int ParseIniInteger(std::string_view text, int def)
{
    text = TrimBlanks(text);
    int value = 0;
    bool ok;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        ok = ParseHex(text.substr(2), value);
    else if (!text.empty() && text[0] == '$')
        ok = ParseHex(text.substr(1), value);
    else
        ok = ParseDecimal(text, value);
    return ok ? value : def;
}

IniFile::IniFile(std::string path) : path_(std::move(path)) {}

std::string IniFile::ReadString(const std::string& section, const std::string& key,
                                const std::string& def) const
{
    const Loaded loaded = LoadSettingsText(path_);
    if (loaded.content != Content::Text)
        return def;
    // Multi-key mode keeps every duplicate, so a key that appears twice reads as
    // its first occurrence.
    CSimpleIniA ini(false, true, false);
    if (ini.LoadData(loaded.text.data(), loaded.text.size()) < 0)
        return def;
    const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
    if (!value)
        return def;
    std::string_view v(value);
    // A value in matching quotes is read without them, so a value with
    // meaningful blanks at its ends can be stored.
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

int IniFile::ReadInteger(const std::string& section, const std::string& key, int def) const
{
    return ParseIniInteger(ReadString(section, key, std::string()), def);
}

bool IniFile::WriteString(const std::string& section, const std::string& key,
                          const std::string& value)
{
    if (!CanStore(section, key, value))
        return false;
    const std::string target = ReplacementTarget(path_);
    const Loaded loaded = LoadSettingsText(target);
    // A folder or device at the path cannot be replaced; a file we may not read
    // would lose its contents.
    if (loaded.content == Content::NotRegular || loaded.content == Content::Unreadable)
        return false;

    CSimpleIniA ini(false, true, false);
    ini.SetSpaces(false);
    std::string tail;
    // A file that is not text has nothing worth keeping: it is replaced by a
    // valid settings file.
    if (loaded.content == Content::Text) {
        if (ini.LoadData(loaded.text.data(), loaded.text.size()) < 0)
            return false;
        tail = TrailingText(loaded.text);
    }
    // Replacing collapses duplicates of the key into one, at the first one's place.
    if (ini.SetValue(section.c_str(), key.c_str(), StoredValue(value).c_str(), nullptr, true) < 0)
        return false;
    std::string data;
    if (ini.Save(data, true) < 0)
        return false;
    if (!tail.empty()) {
        if (!data.empty() && data.back() != '\n')
            data.push_back('\n');
        data.append("\n").append(tail);
    }

    std::string tempPath;
    Fd fd(CreateTemporaryBeside(target, tempPath));
    if (fd.get() < 0)
        return false;
    bool ok = true;
    if (loaded.content != Content::Missing)
        ok = ::fchmod(fd.get(), loaded.mode) == 0;
    ok = ok && WriteAll(fd.get(), data) && ::fsync(fd.get()) == 0;
    ok = (::close(fd.release()) == 0) && ok;
    ok = ok && ::rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempPath.c_str());
        return false;
    }
    const std::string folder = FolderOf(target);
    SyncFolder(folder.empty() ? "." : folder);
    return true;
}

bool IniFile::WriteInteger(const std::string& section, const std::string& key, int value)
{
    return WriteString(section, key, std::to_string(value));
}

} // namespace kino
