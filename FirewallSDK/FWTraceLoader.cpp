#include <cstdint>

#include "FWTrace.h"
#include "LibXmlWrapper.h"
#include "Trace.h"

namespace FirewallSDK {

namespace {

// Levels are unsigned decimals in the file, stored into the signed levels
// unchanged (2^31 and above become negative).
int levelFrom(unsigned long value)
{
    return static_cast<int>(static_cast<uint32_t>(value));
}

} // namespace

void loadSDKTraceValues(const char* path)
{
    // Nothing is caught: a missing or bad key reaches the host, and the
    // levels stored before it keep their new values.
    LibXmlWrapper document(path);

    wardtrace::setLevel(fwCommandFlowvalue, levelFrom(document.getXPathUnsignedLongValue("/TraceValues/fwCommandFlow")));
    WARD_TRACE(firewallSDKTracervalue, 1, L"Trace value of commandFlow = %d\n", wardtrace::level(fwCommandFlowvalue));

    wardtrace::setLevel(ipValidatorFlowvalue,
                        levelFrom(document.getXPathUnsignedLongValue("/TraceValues/ipValidatorFlow")));
    WARD_TRACE(firewallSDKTracervalue, 1, L"Trace value of ipValidatorFlow = %d\n",
               wardtrace::level(ipValidatorFlowvalue));

    wardtrace::setLevel(portValidatorFlowvalue,
                        levelFrom(document.getXPathUnsignedLongValue("/TraceValues/portValidatorFlow")));
    WARD_TRACE(firewallSDKTracervalue, 1, L"Trace value of portValidatorFlow = %d\n",
               wardtrace::level(portValidatorFlowvalue));
}

} // namespace FirewallSDK
