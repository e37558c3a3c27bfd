#include "platform/FileTimes.h"

#include <algorithm>
#include <ctime>
#include <limits>

namespace kino {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian calendar).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : days[month - 1];
}

// 1899-12-30, day zero of the date-time value, counted from 1970-01-01.
const std::int64_t kDateTimeEpoch = DaysFromCivil(1899, 12, 30);

} // namespace

std::optional<DosDateTime> ToLocalDosDateTime(std::int64_t unixSeconds)
{
    if (unixSeconds < std::numeric_limits<std::time_t>::min() || unixSeconds > std::numeric_limits<std::time_t>::max())
        return std::nullopt;
    const auto seconds = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    if (!localtime_r(&seconds, &local))
        return std::nullopt;
    const int year = local.tm_year + 1900;
    if (year < 1980 || year > 2107)
        return std::nullopt;
    DosDateTime packed;
    packed.Date = static_cast<std::uint16_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    // A leap second (60) stays within the minute.
    const int second = std::min(local.tm_sec, 59);
    packed.Time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) | (second / 2));
    return packed;
}

std::optional<double> DosDateTimeToDateTime(DosDateTime packed)
{
    const int year = 1980 + (packed.Date >> 9);
    const int month = (packed.Date >> 5) & 0x0F;
    const int day = packed.Date & 0x1F;
    const int hour = packed.Time >> 11;
    const int minute = (packed.Time >> 5) & 0x3F;
    const int second = (packed.Time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    const std::int64_t days =
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kDateTimeEpoch;
    return static_cast<double>(days) + (hour * 3600 + minute * 60 + second) / 86400.0;
}

std::optional<double> FileTimeToDateTime(std::int64_t unixSeconds)
{
    const auto packed = ToLocalDosDateTime(unixSeconds);
    if (!packed)
        return std::nullopt;
    return DosDateTimeToDateTime(*packed);
}

} // namespace kino
