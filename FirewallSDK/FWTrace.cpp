#include "FWTrace.h"

int fwCommandFlowvalue = 5;
int ipValidatorFlowvalue = 5;
int portValidatorFlowvalue = 5;
int firewallSDKTracervalue = 0;
