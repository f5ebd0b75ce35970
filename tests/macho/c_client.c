/* A C caller of the scanner's public header: it must compile as C and link
 * by the plain names. Exits 0 when PATH gives EXPECTED names and executable
 * answer EXEC. Usage: macho_c_client PATH EXPECTED EXEC */
#include "scanner.h"

#include <stdio.h>
#include <stdlib.h>

FILE* logFilePtr = NULL;
int traceInited = 0;

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    dependant_libraries libs = {0, NULL};
    const int result = getDependantLibraries(argv[1], &libs);
    const int count = libs.count;
    for (int32_t i = 0; i < libs.count; ++i) {
        printf("%s\n", libs.names[i]);
        free(libs.names[i]);
    }
    free(libs.names);
    const int exec = isFileMachOExecutable(argv[1]);
    return result == 1 && count == atoi(argv[2]) && exec == atoi(argv[3]) ? 0 : 1;
}
