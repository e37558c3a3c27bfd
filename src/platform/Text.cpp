#include "platform/Text.h"

#include <iconv.h>

#include <cerrno>

namespace kino {

bool IsValidUtf8(std::string_view bytes)
{
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int length = 0;
        // The bounds of the second byte exclude overlong forms, surrogates and
        // code points above U+10FFFF.
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            if (c == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (end - p < length)
            return false;
        if (p[1] < low || p[1] > high)
            return false;
        for (int i = 2; i < length; ++i)
            if (p[i] < 0x80 || p[i] > 0xBF)
                return false;
        p += length;
    }
    return true;
}

namespace {

// glibc knows the Windows flavour of Shift-JIS under several names depending on
// how it was built; the first one that opens wins.
iconv_t OpenShiftJisDecoder()
{
    for (const char* name : {"CP932", "WINDOWS-31J", "SHIFT_JIS"}) {
        iconv_t cd = iconv_open("UTF-8", name);
        if (cd != reinterpret_cast<iconv_t>(-1))
            return cd;
    }
    return reinterpret_cast<iconv_t>(-1);
}

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

// Decodes Shift-JIS to UTF-8. A byte that starts no valid character becomes one
// U+FFFD and decoding resumes at the next byte, so every step consumes input.
std::string ShiftJisToUtf8(std::string_view bytes)
{
    std::string out;
    iconv_t cd = OpenShiftJisDecoder();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // No decoder at all: keep ASCII, mark everything else.
        for (char c : bytes) {
            if (static_cast<unsigned char>(c) < 0x80)
                out.push_back(c);
            else
                out.append(kReplacementUtf8);
        }
        return out;
    }

    char buffer[512];
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        if (rc != static_cast<std::size_t>(-1))
            continue;
        if (errno == E2BIG)
            continue;
        // EILSEQ (not Shift-JIS) or EINVAL (a lead byte cut off at the end).
        out.append(kReplacementUtf8);
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

} // namespace

QString ToDisplay(std::string_view bytes)
{
    if (IsValidUtf8(bytes))
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    const std::string utf8 = ShiftJisToUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string FromDisplay(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

} // namespace kino
