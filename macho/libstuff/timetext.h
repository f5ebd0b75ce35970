// A time stamp as ctime() writes it.
#pragma once

#include <ctime>

namespace macho {

/// ctime(&t): its text (in its static buffer) or null where it answers
/// null. ctime looks the time-zone file up again at each call, a system call
/// each time stamp costs; localtime_r reads the zone once.
inline const char* time_text(time_t t)
{
    struct tm tm;
    return localtime_r(&t, &tm) != nullptr ? asctime(&tm) : nullptr;
}

} // namespace macho
