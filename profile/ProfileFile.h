// The profile file: the application store and then the dependent-library
// store in one archive (see ProfileArchive.h for the layout).
#pragma once

#include <istream>
#include <ostream>

#include "ApplicationStore.h"
#include "DependentStore.h"

namespace AppProtection {

/// Writes header, application store, dependent store. Throws
/// boost::archive::archive_exception when the stream fails. Open files in
/// binary mode: the bytes are the format, no locale conversion applies.
void writeProfile(std::ostream& out, const ApplicationStore& apps, const DependentStore& deps);

/// Reads both stores in the same order. Throws
/// boost::archive::archive_exception when the input is refused; a store not
/// yet reached, or whose part is refused, keeps its content.
void readProfile(std::istream& in, ApplicationStore& apps, DependentStore& deps);

} // namespace AppProtection
