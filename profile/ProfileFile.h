// The profile file: the application store and then the dependent-library
// store in one archive (see ProfileArchive.h for the layout).
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>

#include "ApplicationStore.h"
#include "DependentStore.h"

namespace AppProtection {

/// Writes header, application store, dependent store. Throws
/// boost::archive::archive_exception when the stream fails. Open files in
/// binary mode: the bytes are the format, no locale conversion applies.
void writeProfile(std::ostream& out, const ApplicationStore& apps, const DependentStore& deps);

/// The same straight into an open file, in large blocks; each store is
/// encoded under its own mutex while its part is written. Throws
/// std::system_error with the errno of a failed write.
void writeProfile(int fd, const ApplicationStore& apps, const DependentStore& deps);

/// Reads both stores in the same order. Throws
/// boost::archive::archive_exception when the input is refused; a store not
/// yet reached, or whose part is refused, keeps its content.
void readProfile(std::istream& in, ApplicationStore& apps, DependentStore& deps);

/// The same from the next `size` bytes of an open file, read in blocks.
/// Also throws std::system_error with the errno of a failed read.
void readProfile(int fd, uint64_t size, ApplicationStore& apps, DependentStore& deps);

} // namespace AppProtection
