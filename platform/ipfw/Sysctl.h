// sysctlbyname for the two ipfw values, kept as files of the stand-in.
//
// "net.inet.ip.fw.enable" and "net.inet.ip.fw.verbose" are ints stored as
// decimal text in sysctl/<name> of the state folder (absent: 0). A file
// sysctl/<name>.fail holding "size", "read" or "write" makes that kind of
// call fail with EPERM, changing nothing. glibc has no sysctlbyname, so this
// is the only definition in the process.
#pragma once

#include <cstddef>

extern "C" int sysctlbyname(const char* name, void* oldp, size_t* oldlenp, void* newp, size_t newlen);
