// Trace levels defined by librulebook; the daemon sets them from its
// trace-flag file.
#pragma once

#include "Trace.h"

extern int appStoreFlowvalue;
extern int depGenFlowvalue;
extern int depStoreFlowvalue;
extern int pdcFlowvalue;
extern int hashGenFlagvalue;
