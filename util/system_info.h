/*
 * System paths of the driver, the network enumeration, and the XML printer it uses.
 */
#ifndef QUENO_SYSTEM_INFO_H
#define QUENO_SYSTEM_INFO_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ApiPathEntry {
    int32_t nKey;
    const char* sNode; /* "System/<node>", property "Path" */
} ApiPathEntry;

/* Keys 0..4: "config", "log", "systemxml", "testresults", "backup". */
extern const ApiPathEntry sApiPathTable[5];

/* Copies the system path of a key into sBuffer. 0; ResultPathNotFound (100007) for an unknown key
 * or a failed length query; ResultBufferTooSmall (230001) when the path and its terminator do not
 * fit nSize, the buffer then untouched. */
int32_t GetApiPath(int32_t nKey, char* sBuffer, uint32_t nSize);

/* Asks the driver to enumerate the network interfaces and prints the answer with DumpXmlTree.
 * Always 0. */
int32_t ListNetworkInterfaces(void);

/* Prints an XML text as indented lines on standard output, character by character and without
 * parsing it: "<" opens a level, "</" and "/>" close one, ">" ends a line, line feeds are dropped.
 * Always 0. */
int32_t DumpXmlTree(const char* sText);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_SYSTEM_INFO_H */
