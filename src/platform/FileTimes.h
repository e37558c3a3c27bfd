#pragma once
// File times as the search reports them: the file system's universal time, taken
// to local time, packed to the two-second DOS form (years 1980 to 2107), then to a
// date-time value (days since 30 December 1899, the fraction being the time of
// day). A time that does not survive every step has no value.
#include <cstdint>
#include <optional>

namespace kino {

struct DosDateTime {
    std::uint16_t Date = 0; // bits 15-9 year - 1980, 8-5 month, 4-0 day
    std::uint16_t Time = 0; // bits 15-11 hour, 10-5 minute, 4-0 second / 2
};

// Local time of `unixSeconds` (seconds since 1970-01-01 UTC) in DOS form, odd
// seconds rounded down; nothing outside the years 1980 to 2107.
std::optional<DosDateTime> ToLocalDosDateTime(std::int64_t unixSeconds);

// The date-time value of a packed DOS date and time; nothing when the fields do
// not make a real date and time (month 13, 30 February, hour 24...).
std::optional<double> DosDateTimeToDateTime(DosDateTime packed);

// Both steps at once.
std::optional<double> FileTimeToDateTime(std::int64_t unixSeconds);

} // namespace kino
