/* The Mach-O dependency scanner's entry points.
 *
 * Not re-entrant: callers serialise every call (the dependency generator's
 * mutex does). Reports go to standard error, walk notes to standard output;
 * running out of memory ends the process with status 1. */
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The libraries an object loads, in load-command order. The caller builds
 * it as {0, NULL}; after a result of 1 it owns `names` (when set) and the
 * first `count` strings, and frees each string and then the array. */
typedef struct dependant_libraries {
    int32_t count;
    char** names;
} dependant_libraries;

/* 1 when the file was read (and, for a universal file, its first slice
 * selected): the names are then in `libs`, left untouched when the file has
 * no Mach header. 0 when the file cannot be read or its universal header or
 * first slice is bad; `libs` is then untouched. */
int getDependantLibraries(const char* path, dependant_libraries* libs);

/* 1 when the file (slice 0 of a universal file) has a Mach header whose file
 * type is an executable (2), else 0. */
int isFileMachOExecutable(const char* path);

#ifdef __cplusplus
}
#endif
