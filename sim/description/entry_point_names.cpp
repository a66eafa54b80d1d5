#include "entry_point_names.h"

#include "kivo_entry_points.h"

namespace qsim {

bool isEntryPointName(const std::string& sName) {
#define QSIM_ENTRY_POINT_NAME(name, ret, params, args, cls) #name,
    static const char* const kNames[] = {KIVO_ENTRY_POINTS(QSIM_ENTRY_POINT_NAME)};
#undef QSIM_ENTRY_POINT_NAME
    for (const char* sKnown : kNames) {
        if (sName == sKnown) return true;
    }
    return false;
}

}  // namespace qsim
