// MS-DOS time fields, shared by both platform implementations (not part of
// the seam itself).
#pragma once

#include "platform/platform.h"

namespace korvane::platform::detail {

// Encodes local calendar fields. The format starts in 1980 and ends in 2107:
// earlier instants become 1980-01-01 00:00, later ones the last representable
// moment.
inline DosTime dos_time_from(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1980) return DosTime{0, (1 << 5) | 1};
    if (year > 2107) return DosTime{(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31};
    DosTime dos;
    dos.time = static_cast<std::uint16_t>(hour * 2048 + minute * 32 + second / 2);
    dos.date = static_cast<std::uint16_t>((year - 1980) * 512 + month * 32 + day);
    return dos;
}

inline LocalTime decode_dos_time(DosTime dos) {
    LocalTime t;
    t.second = 2 * (dos.time & 31);
    t.minute = (dos.time >> 5) & 63;
    t.hour = dos.time >> 11;
    t.day = dos.date & 31;
    t.month = (dos.date >> 5) & 15;
    t.year = 1980 + (dos.date >> 9);
    return t;
}

// mktime would quietly normalise 2007-02-30 into March; an archive's broken
// date must not land on some other day.
inline bool is_valid_local_time(const LocalTime& t) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.year < 1601 || t.year > 30827 || t.month < 1 || t.month > 12) return false;
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    const int month_days = days[t.month - 1] + (t.month == 2 && leap ? 1 : 0);
    return t.day >= 1 && t.day <= month_days && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

}  // namespace korvane::platform::detail
