// A stand-in driver for loader tests. Each stub library built from this file hides some entry
// points with a version script, so the loader meets libraries that lack them.
#include <stdint.h>
#include <string.h>

#include "kivo_entry_points.h"

#pragma GCC diagnostic ignored "-Wunused-parameter"

extern "C" {

// How often KiVoDriverDeInit was called, for tests that hold their own handle on the library.
int stub_deinit_calls = 0;

static void stubCalled(const char* sName) {
    if (strcmp(sName, "KiVoDriverDeInit") == 0) ++stub_deinit_calls;
}

#define STUB_ENTRY(name, ret, params, args, cls) \
    ret name params {                            \
        stubCalled(#name);                       \
        return static_cast<ret>(0);             \
    }
KIVO_ENTRY_POINTS(STUB_ENTRY)
#undef STUB_ENTRY
}
