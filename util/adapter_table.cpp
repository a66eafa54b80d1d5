// The RUK sensor adapters and their measuring ranges.
#include "adapter_table.h"

#include <string.h>

namespace {

const RukAdapter* findAdapter(const char* sModel) {
    if (sModel == nullptr) return nullptr;
    for (const RukAdapter& adapter : sRukAdapterTable) {
        if (strcmp(adapter.sModel, sModel) == 0) return &adapter;
    }
    return nullptr;
}

}  // namespace

extern "C" {

const RukAdapter sRukAdapterTable[7] = {
    {"RUK-A1", -10000.0, 10000.0, "mV"},    {"RUK-A2", -200.0, 200.0, "V"},
    {"RUK2-B1", -5000.0, 5000.0, "pC"},     {"RUK2-B2", -100000.0, 100000.0, "pC"},
    {"RUK2-C1", -20.0, 20.0, "mV/V"},       {"RUK2-C2", -10.0, 10.0, "mV/V"},
    {"RUK2-D1", -1000.0, 1000.0, "V"},
};

double RUK_GetMinRange(const char* sModel) {
    const RukAdapter* pAdapter = findAdapter(sModel);
    return pAdapter != nullptr ? pAdapter->dMin : 0.0;
}

double RUK_GetMaxRange(const char* sModel) {
    const RukAdapter* pAdapter = findAdapter(sModel);
    return pAdapter != nullptr ? pAdapter->dMax : 0.0;
}

const char* RUK_GetMaxRangeUnit(const char* sModel) {
    const RukAdapter* pAdapter = findAdapter(sModel);
    return pAdapter != nullptr ? pAdapter->sUnit : "";
}

const char* RUK_GetMinRangeUnit(const char* sModel) { return RUK_GetMaxRangeUnit(sModel); }

}  // extern "C"
