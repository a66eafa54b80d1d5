/* Formatting into the run's fixed text buffers: always bounded, longer text is cut. */
#ifndef QUENO_RUN_TEXT_H
#define QUENO_RUN_TEXT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

void FormatRunText(char* sText, size_t nSize, const char* sFormat, ...) __attribute__((format(printf, 3, 4)));

#ifdef __cplusplus
}
#endif

#endif /* QUENO_RUN_TEXT_H */
