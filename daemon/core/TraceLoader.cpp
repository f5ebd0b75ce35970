#include "TraceLoader.h"

#include <csignal>
#include <cstdint>
#include <exception>
#include <string>

#include "LibXmlWrapper.h"
#include "TraceLevels.h"

namespace AppProtection {

namespace {

struct TraceKey {
    const char* xpath;
    const char* name; // the key's last element, for the loader's own lines
    int* level;
};

const TraceKey kTraceKeys[] = {
    {"/TraceValues/appTracer", "appTracer", &appTracervalue},
    {"/TraceValues/appControlFlow", "appControlFlow", &appControlFlowvalue},
    {"/TraceValues/appCmdFlow", "appCmdFlow", &appCmdFlowvalue},
    {"/TraceValues/configFlow", "configFlow", &configFlowvalue},
    {"/TraceValues/appHCFlow", "appHCFlow", &appHCFlowvalue},
    {"/TraceValues/kextIfFlow", "kextIfFlow", &kextIfFlowvalue},
    {"/TraceValues/appStoreFlow", "appStoreFlow", &appStoreFlowvalue},
    {"/TraceValues/depGenFlow", "depGenFlow", &depGenFlowvalue},
    {"/TraceValues/depStoreFlow", "depStoreFlow", &depStoreFlowvalue},
    {"/TraceValues/pdcFlow", "pdcFlow", &pdcFlowvalue},
    {"/TraceValues/hashGenFlag", "hashGenFlag", &hashGenFlagvalue},
    {"/TraceValues/processHelperFlow", "processHelperFlow", &processHelperFlowvalue},
    {"/TraceValues/reportMgrFlow", "reportMgrFlow", &reportMgrFlowvalue},
    {"/TraceValues/alertMgrFlow", "alertMgrFlow", &alertMgrFlowvalue},
    {"/TraceValues/loggerFlow", "loggerFlow", &loggerFlowvalue},
    {"/TraceValues/statsMgrFlow", "statsMgrFlow", &statsMgrFlowvalue},
    {"/TraceValues/zuvFlow", "zuvFlow", &zuvFlowvalue},
};

FrameworkTraceLoader g_frameworkLoader = nullptr; // atomic access

} // namespace

void setFrameworkTraceLoader(FrameworkTraceLoader loader)
{
    __atomic_store_n(&g_frameworkLoader, loader, __ATOMIC_RELEASE);
}

void loadTraceValues(const char* traceFlagPath)
{
    {
        LibXmlWrapper flags(traceFlagPath ? traceFlagPath : "");
        for (const TraceKey& key : kTraceKeys) {
            try {
                // The number is taken as it is: 2^31 and above read negative,
                // so "-1" (4294967295) silences a component.
                unsigned long value = flags.getXPathUnsignedLongValue(key.xpath);
                wardtrace::setLevel(*key.level, static_cast<int>(static_cast<uint32_t>(value)));
            } catch (const std::exception&) {
            }
            WARD_TRACE(appTracervalue, 1, L"Trace value of %s = %d\n", key.name, wardtrace::level(*key.level));
        }
    }
    FrameworkTraceLoader framework = __atomic_load_n(&g_frameworkLoader, __ATOMIC_ACQUIRE);
    if (framework != nullptr)
        framework(traceFlagPath);
}

void openTracing()
{
    ConfigController* config = ConfigController::getInstance();
    std::string flagPath = config->getTraceFlagPath();
    std::string tracePath = config->getTraceFilePath();
    loadTraceValues(flagPath.c_str());
    if (__atomic_load_n(&traceInited, __ATOMIC_RELAXED) == 0)
        wardtrace::openLogFile(tracePath.c_str());
}

void reloadTracing(int signum)
{
    if (signum != SIGHUP)
        return;
    try {
        // Under the writers' lock, so none writes to the closed file.
        wardtrace::endTracing();
        ConfigController* config = ConfigController::getInstance();
        std::string flagPath = config->getTraceFlagPath();
        std::string tracePath = config->getTraceFilePath();
        loadTraceValues(flagPath.c_str());
        wardtrace::openLogFile(tracePath.c_str());
        WARD_TRACE(appControlFlowvalue, 2, L"AppProtectionController::reloadHandler  - reloaded tracing\n");
    } catch (...) {
    }
}

} // namespace AppProtection
