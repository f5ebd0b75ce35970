#include "RulebookTrace.h"

int appStoreFlowvalue = 0;
int depGenFlowvalue = 0;
int depStoreFlowvalue = 0;
int pdcFlowvalue = 2;
int hashGenFlagvalue = 0;
