// Finds the libraries an executable loads, transitively, through the Mach-O
// dependency scanner, and answers whether a file is a Mach-O executable.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "scanner.h"

namespace AppProtection {

/// The scanner's two entry points, with their C conventions: the names a
/// successful `getDependantLibraries` returns are malloc'ed blocks in a
/// malloc'ed array, freed by the caller. Called only under the generator's
/// mutex, one call at a time.
class DependencyScanner {
public:
    virtual ~DependencyScanner() = default;
    virtual int getDependantLibraries(const char* path, dependant_libraries* libs) = 0;
    virtual int isFileMachOExecutable(const char* path) = 0;
};

/// Process-wide singleton; its static mutex keeps every thread but one out
/// of the scanner, which is not re-entrant.
class DependentGenerator {
public:
    static DependentGenerator* getInstance();
    static void releaseInstance();

    /// Every library `executable` loads, directly or through other
    /// libraries, each once, in depth-first order of discovery.
    /// "@executable_path" resolves against the executable's directory.
    std::vector<std::string> generateDependancies(const std::string& executable);
    bool isFileMachOExecutable(const std::string& path);

    /// Replaces the scanner (null: the real one). The caller keeps
    /// ownership and keeps it alive until it is replaced. For tests.
    static void setScanner(DependencyScanner* scanner);

    virtual ~DependentGenerator();

    static std::atomic<DependentGenerator*> m_pSelf;
    static std::mutex m_instanceMutex;

private:
    DependentGenerator();
    void generateDependanciesWorker(const std::string& path); // m_instanceMutex held
    DependencyScanner& scannerLocked();

    std::vector<std::string> m_foundDeps; ///< guarded by m_instanceMutex
    std::string m_binaryDir;              ///< guarded by m_instanceMutex
};

} // namespace AppProtection
