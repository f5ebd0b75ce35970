// Every trace level the daemon sets from its trace-flag file: its own eleven,
// librulebook's five and libwardconf's one. Levels are plain ints read and
// written with relaxed atomics (wardtrace::level / wardtrace::setLevel).
#pragma once

#include "ConfigController.h" // configFlowvalue
#include "RulebookTrace.h"    // appStoreFlowvalue ... hashGenFlagvalue; Trace.h

extern int appTracervalue;
extern int appControlFlowvalue;
extern int appCmdFlowvalue;
extern int appHCFlowvalue;
extern int kextIfFlowvalue;
extern int processHelperFlowvalue;
extern int reportMgrFlowvalue;
extern int alertMgrFlowvalue;
extern int loggerFlowvalue;
extern int statsMgrFlowvalue;
extern int zuvFlowvalue;
