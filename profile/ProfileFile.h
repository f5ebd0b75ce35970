// The profile file: the application store and then the dependent-library
// store in one archive (see ProfileArchive.h for the layout).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <list>
#include <ostream>
#include <string>

#include "ApplicationStore.h"
#include "BasicAppRecord.h"
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

/// The generator's temporary profile: the same layout holding one object,
/// the list of records (preamble, count, records), each record in payload
/// order. Throws as writeProfile does.
void writeTempProfile(std::ostream& out, const std::list<BasicAppRecord>& records);
void writeTempProfile(int fd, const std::list<BasicAppRecord>& records);

/// Replaces the file at `path` whole, mode 0660: a temporary file beside
/// it, filled by `write` (which throws std::system_error for a failed
/// write), fsync'ed, renamed over `path`, then the folder fsync'ed.
/// `beforeRename`, when set, runs after the temporary is written. True when
/// `path` holds the new content; on a failure the temporary is removed, the
/// old file stays whole, and the failure is traced under `who`. Other
/// exceptions from `write` or `beforeRename` pass to the caller.
bool replaceProfileFile(const std::string& path, const wchar_t* who, const std::function<void(int fd)>& write,
                        const std::function<void()>& beforeRename = nullptr);

} // namespace AppProtection
