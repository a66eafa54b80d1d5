/* Reading a decimal number from the start of a text, as a "%d" scan does. */
#ifndef QUENO_DECIMAL_TEXT_H
#define QUENO_DECIMAL_TEXT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Leading white space, an optional sign, then digits up to the first other character. 1 with the
 * number in *pnValue when there were digits, else 0 and *pnValue untouched. Unlike a scan it has a
 * defined result beyond 32 bits on every platform: the number saturates at the int32 limits. */
int ScanDecimal32(const char* sText, int32_t* pnValue);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_DECIMAL_TEXT_H */
