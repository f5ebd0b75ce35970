#include "TraceLevels.h"

int appTracervalue = 0;
int appControlFlowvalue = 0;
int appCmdFlowvalue = 0;
int appHCFlowvalue = 0;
int kextIfFlowvalue = 0;
int processHelperFlowvalue = 0;
int reportMgrFlowvalue = 0;
int alertMgrFlowvalue = 0;
int loggerFlowvalue = 0;
int statsMgrFlowvalue = 0;
int zuvFlowvalue = 0;
