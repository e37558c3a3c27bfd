#pragma once
// The settings file: one INI file read and written key by key. Every read opens
// the file afresh; every write replaces it atomically and keeps everything else in it.
#include <string>
#include <string_view>

namespace kino {

// The integer reading rule of the settings file: decimal with an optional sign,
// "0x"/"0X" followed by hexadecimal digits (longer than two characters), or "$"
// followed by hexadecimal digits. Blanks (spaces, tabs) around the number are
// ignored. Anything else, a decimal value outside the 32-bit signed range, or
// more than 32 bits of hexadecimal gives `def`. Hexadecimal is a 32-bit pattern:
// "0xFFFFFFFF" is -1, "$80000000" is INT_MIN.
int ParseIniInteger(std::string_view text, int def);

class IniFile {
public:
    explicit IniFile(std::string path);

    const std::string& Path() const { return path_; }

    // A missing, unreadable or non-text file (not a regular file, larger than
    // 64 MiB, or holding NUL bytes), a missing section or key: `def`. Section and
    // key names ignore ASCII letter case; a key given twice reads as its first
    // occurrence; blanks around a value and one pair of matching quotes ("" or '')
    // are dropped.
    std::string ReadString(const std::string& section, const std::string& key, const std::string& def) const;
    int ReadInteger(const std::string& section, const std::string& key, int def) const;

    // Writes one key and changes nothing else: only the value of the key's first
    // occurrence is replaced, every other byte of the file (sections, keys,
    // comments, blank lines, line breaks) stays as it was. A new key goes after the
    // last one of its section, a new section after the file's last entry. The file
    // is replaced through a temporary file and a rename, so a failed write never
    // leaves it half written; its permission bits are kept, and a symbolic link at
    // the path is followed. Temporaries that earlier writes left behind (files of
    // this user, named as this writer names them, untouched for a minute) are
    // removed. A file holding NUL bytes is replaced by a valid one.
    // Returns false when the file could not be written (folder not writable, a
    // folder, an unreadable file or a file over 64 MiB at the path), or when the
    // entry could not be read back as written (a line break in any part, an empty
    // key, "=" in the key, "]" in the section, blanks at the ends of a name, a key
    // starting with ";", "#" or "["). A value with blanks at its ends is written
    // in quotes.
    bool WriteString(const std::string& section, const std::string& key, const std::string& value);
    bool WriteInteger(const std::string& section, const std::string& key, int value);

private:
    std::string path_;
};

} // namespace kino
