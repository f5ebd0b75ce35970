// libportward's trace levels and their loader. The trace file and its flag
// (`logFilePtr`, `traceInited`) belong to the host program that loads the
// library; a line is written when the component's level exceeds the line's
// threshold.
#pragma once

extern int fwCommandFlowvalue;     // rule store, ipfw driver, rule comparison
extern int ipValidatorFlowvalue;   // address validator
extern int portValidatorFlowvalue; // port validator
extern int firewallSDKTracervalue; // the loader's own lines; set by the host

namespace FirewallSDK {

/// Sets the three component levels from the host's trace-flag XML file
/// (/TraceValues/fwCommandFlow, ipValidatorFlow, portValidatorFlow), in that
/// order, each stored as soon as it is read. A missing or bad key throws
/// std::exception; levels read before it keep their new values.
void loadSDKTraceValues(const char* path);

} // namespace FirewallSDK
