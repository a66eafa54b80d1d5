/* Measuring ranges of the RUK sensor adapters, by model name. */
#ifndef QUENO_ADAPTER_TABLE_H
#define QUENO_ADAPTER_TABLE_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RukAdapter {
    const char* sModel;
    double dMin;
    double dMax;
    const char* sUnit; /* of both ends */
} RukAdapter;

extern const RukAdapter sRukAdapterTable[7];

/* The ends and the unit of an adapter's range; 0.0 and "" for a name not in the table (matched
 * exactly, case-sensitively). The unit texts belong to the table. */
double RUK_GetMinRange(const char* sModel);
double RUK_GetMaxRange(const char* sModel);
const char* RUK_GetMaxRangeUnit(const char* sModel);
const char* RUK_GetMinRangeUnit(const char* sModel);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_ADAPTER_TABLE_H */
