// Lists what lies below a directory, depth first.
#pragma once

#include <string>
#include <vector>

class DirectoryEnumerator {
public:
    DirectoryEnumerator() {}

    /// Complete paths below `directory` (made complete against the current
    /// directory), a directory before its contents. `includeDirs` lists the
    /// directories found; `dirsOnly` leaves files out. Symbolic links to
    /// directories are listed but not entered. A missing directory, or one
    /// that is itself a symbolic link, gives nothing; a directory that cannot
    /// be opened (or a regular file) throws std::filesystem::filesystem_error.
    /// Failures below it are skipped.
    std::vector<std::string> enumerate(std::string directory, bool includeDirs, bool dirsOnly);
};
