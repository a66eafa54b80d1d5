/*
 * The process-wide entry-point table, the loader and the driver error report.
 *
 * Every pointer bears the name of the driver entry point it holds and is null while no driver is
 * loaded. All code reaches the driver through these pointers only, so a test can point them at
 * fakes.
 */
#ifndef KIVO_API_H
#define KIVO_API_H

#include <stdint.h>

#include "kivo_codes.h"
#include "kivo_entry_points.h"

#ifdef __cplusplus
extern "C" {
#endif

#define KIVO_DECLARE_POINTER(name, ret, params, args, cls) extern name##_t name;
KIVO_ENTRY_POINTS(KIVO_DECLARE_POINTER)
#undef KIVO_DECLARE_POINTER

/* File name of the driver library. */
#define KIVO_DRIVER_LIBRARY "libkvpxi_api.so"

/* Loads the library (search path first, then the executable's own directory) and binds the table.
 * Returns the load level 1..6, or 0 when the library or a mandatory entry point is missing. A load
 * while loaded returns the current level and changes nothing. */
int32_t KiVoPxiLoadByName(const char* sLibraryName);
int32_t KiVoPxiLoad(void);
/* De-initialises the driver (when loaded), closes the library and clears the table. */
void KiVoPxiUnload(void);

/* Hooks around load and unload: the load hook returns the bind flag to go on with. */
unsigned char KivoPxiLoadTestInterface(const unsigned char* pBindFlag);
void KivoPxiUnloadTestInterface(void);

/* 0 when the driver is loaded, 1 (after a line on standard output) when not. */
int32_t LoadQuenoApi(void);
/* Writes the message (if not null) to standard error, unloads the driver, returns 0. */
int32_t UnloadQuenoApi(const char* sMessage);

/* Prints the driver's text for a non-zero result on standard error. 1 for an error, else 0. */
int32_t CheckError(int32_t nResult);

#ifdef __cplusplus
}
#endif

#endif /* KIVO_API_H */
