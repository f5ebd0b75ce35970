#include "DirectoryEnumerator.h"

#include <exception>
#include <filesystem>

namespace fs = std::filesystem;

std::vector<std::string> DirectoryEnumerator::enumerate(std::string directory, bool includeDirs, bool dirsOnly)
{
    std::vector<std::string> found;
    fs::path dir = fs::absolute(fs::path(directory));
    if (!fs::exists(dir) || fs::is_symlink(dir))
        return found;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
        try {
            // The test follows links; a broken link has no type and is
            // skipped like an entry whose test fails.
            fs::file_status st = fs::status(entry.path());
            if (!fs::exists(st))
                continue;
            if (fs::is_directory(st)) {
                if (includeDirs)
                    found.push_back(entry.path().string());
                std::vector<std::string> below = enumerate(entry.path().string(), includeDirs, dirsOnly);
                found.insert(found.end(), below.begin(), below.end());
            } else if (!dirsOnly) {
                found.push_back(entry.path().string());
            }
        } catch (const std::exception&) {
            // An unreadable subtree or a vanished entry: go on with the next.
        }
    }
    return found;
}
