// Run-time binding of the driver library: load by name with a fallback to the executable's own
// directory, bind the table in order, stage the optional entry points into a load level, unload.
#include <dlfcn.h>
#include <libgen.h>
#include <stdio.h>
#include <unistd.h>

#include "kivo_api.h"

namespace {

// RTLD_LAZY | RTLD_DEEPBIND (= 9): inside the library its own symbols win over the executable's
// same-named pointer globals. AddressSanitizer and ThreadSanitizer refuse RTLD_DEEPBIND, so their
// builds may drop it; the simulated driver is linked -Bsymbolic and is safe either way.
#ifdef QUENO_DLOPEN_WITHOUT_DEEPBIND
constexpr int kOpenMode = RTLD_LAZY;
#else
constexpr int kOpenMode = RTLD_LAZY | RTLD_DEEPBIND;
#endif

void* hPxiLib = nullptr;
int32_t nLoadLevel = 0;

enum Stage { MANDATORY = 0, STAGE1 = 1, STAGE2 = 2, STAGE3 = 3, STAGE4 = 4, STAGE5 = 5 };

struct EntrySlot {
    const char* sName;
    int nStage;
    void (*assign)(void* pSymbol);
};

// The table in binding order. POSIX guarantees that a dlsym result converts to a function pointer.
const EntrySlot sEntrySlots[] = {
#define KIVO_SLOT(name, ret, params, args, cls) \
    {#name, cls, [](void* p) { name = reinterpret_cast<name##_t>(p); }},
    KIVO_ENTRY_POINTS(KIVO_SLOT)
#undef KIVO_SLOT
};

void printDlError() {
    const char* sError = dlerror();
    fprintf(stderr, "%s\n", sError != nullptr ? sError : "unknown dynamic loader error");
}

// Looks one entry point up on the library's handle (never on RTLD_DEFAULT, which would find the
// executable's own pointer globals) and reports a missing one. True when found.
bool bindEntry(const EntrySlot& slot) {
    dlerror();  // forget any earlier error so that only this lookup is judged
    slot.assign(dlsym(hPxiLib, slot.sName));
    const char* sError = dlerror();
    if (sError != nullptr) {
        fprintf(stderr, "%s\n", sError);
        return false;
    }
    return true;
}

void* openFromExecutableDirectory(const char* sLibraryName) {
    char sExePath[4096] = {0};
    ssize_t nRead = readlink("/proc/self/exe", sExePath, sizeof(sExePath) - 1);
    if (nRead < 0) return nullptr;
    sExePath[nRead] = '\0';
    char sLibPath[4096] = {0};
    snprintf(sLibPath, sizeof(sLibPath), "%s/%s", dirname(sExePath), sLibraryName);
    void* hLib = dlopen(sLibPath, kOpenMode);
    if (hLib == nullptr) printDlError();
    return hLib;
}

int32_t failLoad() {
    // The library is closed again at once rather than kept open without a binding.
    if (hPxiLib != nullptr) dlclose(hPxiLib);
    hPxiLib = nullptr;
    nLoadLevel = 0;
    KiVoPxiUnload();
    return 0;
}

}  // namespace

extern "C" {

int32_t KiVoPxiLoadByName(const char* sLibraryName) {
    if (nLoadLevel > 0) return nLoadLevel;

    // dlopen of a null or empty name answers the program itself, whose same-named pointer globals
    // would then be bound as entry points: refuse that outright.
    if (sLibraryName == nullptr || sLibraryName[0] == '\0') {
        fprintf(stderr, "%s\n", "no driver library name given");
        return failLoad();
    }

    hPxiLib = dlopen(sLibraryName, kOpenMode);
    if (hPxiLib == nullptr) {
        printDlError();
        hPxiLib = openFromExecutableDirectory(sLibraryName);
        if (hPxiLib == nullptr) return failLoad();
    }

    unsigned char bBind = 1;
    size_t i = 0;
    for (; i < sizeof(sEntrySlots) / sizeof(sEntrySlots[0]) && sEntrySlots[i].nStage == MANDATORY; ++i) {
        if (!bindEntry(sEntrySlots[i])) bBind = 0;
    }
    bBind = KivoPxiLoadTestInterface(&bBind);
    if (bBind == 0) return failLoad();

    // Stages 1 to 4 hold one entry point each; the first one missing fixes the level.
    for (; i < sizeof(sEntrySlots) / sizeof(sEntrySlots[0]) && sEntrySlots[i].nStage < STAGE5; ++i) {
        if (!bindEntry(sEntrySlots[i])) {
            nLoadLevel = sEntrySlots[i].nStage;
            return nLoadLevel;
        }
    }
    // Stage 5 is bound as a whole: every member is looked up and reported.
    for (; i < sizeof(sEntrySlots) / sizeof(sEntrySlots[0]); ++i) {
        if (!bindEntry(sEntrySlots[i])) bBind = 0;
    }
    nLoadLevel = bBind ? 6 : 5;
    return nLoadLevel;
}

int32_t KiVoPxiLoad(void) { return KiVoPxiLoadByName(KIVO_DRIVER_LIBRARY); }

void KiVoPxiUnload(void) {
    if (nLoadLevel > 0) {
        if (KiVoDriverDeInit != nullptr) KiVoDriverDeInit();
        dlclose(hPxiLib);
        nLoadLevel = 0;
        hPxiLib = nullptr;
    }
    for (const EntrySlot& slot : sEntrySlots) slot.assign(nullptr);
    KivoPxiUnloadTestInterface();
}

unsigned char KivoPxiLoadTestInterface(const unsigned char* pBindFlag) {
    return pBindFlag != nullptr ? *pBindFlag : 0;
}

void KivoPxiUnloadTestInterface(void) {}

int32_t LoadQuenoApi(void) {
    if (KiVoPxiLoad() != 0) return 0;
    puts("pxi_api.dll could not be found. Exiting...");
    return 1;
}

int32_t UnloadQuenoApi(const char* sMessage) {
    if (sMessage != nullptr) {
        fputs(sMessage, stderr);
        fflush(stderr);
    }
    KiVoPxiUnload();
    return 0;
}

}  // extern "C"
