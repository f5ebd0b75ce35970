// Reading records from boost archives as a whole.
#pragma once

#include <utility>

namespace FirewallSDK {

/// Reads one value of type T (a record, a vector or a map of records) from
/// the archive into a fresh object and hands it over only when the whole value
/// was read. When reading fails the archive's exception passes on and `out` is
/// exactly as before.
template <class Archive, class T>
void readRecord(Archive& ar, T& out)
{
    T value;
    ar >> value;
    out = std::move(value);
}

} // namespace FirewallSDK
