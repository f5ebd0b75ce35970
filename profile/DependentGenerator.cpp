#include "DependentGenerator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <libgen.h>

#include "RulebookTrace.h"

namespace AppProtection {

namespace {

class RealScanner : public DependencyScanner {
public:
    int getDependantLibraries(const char* path, dependant_libraries* libs) override
    {
        return ::getDependantLibraries(path, libs);
    }
    int isFileMachOExecutable(const char* path) override { return ::isFileMachOExecutable(path); }
};

RealScanner g_realScanner;
DependencyScanner* g_scanner = nullptr; // guarded by m_instanceMutex; null: the real one

// The system's dirname: trailing slashes ignored, "." without a slash, "/"
// for the root.
std::string directoryOf(const std::string& path)
{
    std::vector<char> buf(path.begin(), path.end());
    buf.push_back('\0');
    return ::dirname(buf.data());
}

// Frees the scanner's blocks: each name, then the array.
void freeLibraries(dependant_libraries& libs)
{
    if (libs.names == nullptr)
        return;
    for (int32_t i = 0; i < libs.count; ++i)
        std::free(libs.names[i]);
    std::free(libs.names);
    libs.names = nullptr;
    libs.count = 0;
}

} // namespace

std::atomic<DependentGenerator*> DependentGenerator::m_pSelf{nullptr};
std::mutex DependentGenerator::m_instanceMutex;

DependentGenerator::DependentGenerator()
{
    WARD_TRACE(depGenFlowvalue, 2, L"DependentGenerator::DependentGenerator - Created\n");
}

DependentGenerator::~DependentGenerator()
{
    WARD_TRACE(depGenFlowvalue, 2, L"DependentGenerator::~DependentGenerator - Deleted\n");
}

DependentGenerator* DependentGenerator::getInstance()
{
    WARD_TRACE(depGenFlowvalue, 4, L"DependentGenerator::getInstance - Entry\n");
    DependentGenerator* self = m_pSelf.load(std::memory_order_acquire);
    if (self == nullptr) {
        std::lock_guard<std::mutex> lock(m_instanceMutex);
        self = m_pSelf.load(std::memory_order_relaxed);
        if (self == nullptr) {
            self = new DependentGenerator();
            m_pSelf.store(self, std::memory_order_release);
        }
    }
    WARD_TRACE(depGenFlowvalue, 4, L"DependentGenerator::getInstance - Exit\n");
    return self;
}

void DependentGenerator::releaseInstance()
{
    WARD_TRACE(depGenFlowvalue, 4, L"DependentGenerator::releaseInstance - Entry\n");
    if (m_pSelf.load(std::memory_order_acquire) != nullptr) {
        std::lock_guard<std::mutex> lock(m_instanceMutex);
        delete m_pSelf.exchange(nullptr, std::memory_order_acq_rel);
    }
    WARD_TRACE(depGenFlowvalue, 4, L"DependentGenerator::releaseInstance - Exit\n");
}

void DependentGenerator::setScanner(DependencyScanner* scanner)
{
    std::lock_guard<std::mutex> lock(m_instanceMutex);
    g_scanner = scanner;
}

DependencyScanner& DependentGenerator::scannerLocked()
{
    return g_scanner != nullptr ? *g_scanner : g_realScanner;
}

std::vector<std::string> DependentGenerator::generateDependancies(const std::string& executable)
{
    WARD_TRACE(depGenFlowvalue, 0, L"DependentGenerator::generateDependancies - Entry %s\n", executable.c_str());
    std::vector<std::string> result;
    {
        std::lock_guard<std::mutex> lock(m_instanceMutex);
        m_binaryDir = directoryOf(executable);
        m_foundDeps.clear();
        generateDependanciesWorker(executable);
        result = m_foundDeps;
    }
    WARD_TRACE(depGenFlowvalue, 0, L"DependentGenerator::generateDependancies - Returning %d deps for %s\n",
               static_cast<int>(result.size()), executable.c_str());
    return result;
}

void DependentGenerator::generateDependanciesWorker(const std::string& path)
{
    WARD_TRACE(depGenFlowvalue, 1, L"DependentGenerator::generateDependanciesWorker - Entry %s\n", path.c_str());
    dependant_libraries libs;
    libs.count = 0;
    libs.names = nullptr;
    if (scannerLocked().getDependantLibraries(path.c_str(), &libs) != 1) {
        WARD_TRACE(depGenFlowvalue, 1, L"DependentGenerator::generateDependanciesWorker - Exit %s\n", path.c_str());
        return;
    }
    // Copy the names out first so that the blocks are freed even when a
    // later step throws.
    std::vector<std::string> names;
    try {
        for (int32_t i = 0; libs.names != nullptr && i < libs.count; ++i)
            if (libs.names[i] != nullptr)
                names.emplace_back(libs.names[i]);
    } catch (...) {
        freeLibraries(libs);
        throw;
    }
    freeLibraries(libs);

    static const std::string executablePath = "@executable_path";
    for (std::string& name : names) {
        std::string::size_type at = name.find(executablePath);
        if (at != std::string::npos)
            name.replace(at, executablePath.size(), m_binaryDir);
        if (std::find(m_foundDeps.begin(), m_foundDeps.end(), name) == m_foundDeps.end()) {
            WARD_TRACE(depGenFlowvalue, 1, L"DependentGenerator::generateDependanciesWorker - Found %s\n",
                       name.c_str());
            m_foundDeps.push_back(name);
            generateDependanciesWorker(name);
        }
    }
    WARD_TRACE(depGenFlowvalue, 1, L"DependentGenerator::generateDependanciesWorker - Exit %s\n", path.c_str());
}

bool DependentGenerator::isFileMachOExecutable(const std::string& path)
{
    bool executable;
    {
        std::lock_guard<std::mutex> lock(m_instanceMutex);
        executable = scannerLocked().isFileMachOExecutable(path.c_str()) == 1;
    }
    WARD_TRACE(depGenFlowvalue, 0, L"DependentGenerator::isFileMachOExecutable - %s %s\n", path.c_str(),
               executable ? "true" : "false");
    return executable;
}

} // namespace AppProtection
