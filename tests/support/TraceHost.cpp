// The two variables every host of the libraries defines: the trace file and
// whether tracing is on. Shared by the test programs and the fuzz targets.
#include <cstdio>

FILE* logFilePtr = nullptr;
int traceInited = 0;
