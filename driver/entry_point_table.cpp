// The entry-point table: one exported, initially null pointer per driver entry point, named after it.
#include "kivo_api.h"

extern "C" {
#define KIVO_DEFINE_POINTER(name, ret, params, args, cls) name##_t name = nullptr;
KIVO_ENTRY_POINTS(KIVO_DEFINE_POINTER)
#undef KIVO_DEFINE_POINTER
}
