// The loader against stub libraries that lack entry points: load levels, error lines, the
// fallback to the executable's directory, a second load, the unload.
#include <dlfcn.h>

#include <sstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "kivo_api.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

std::string stub(const char* sName) { return std::string(QUENO_STUB_DIR) + "/libstub_" + sName + ".so"; }

std::vector<std::string> lines(const std::string& sText) {
    std::vector<std::string> result;
    std::istringstream in(sText);
    for (std::string sLine; std::getline(in, sLine);) result.push_back(sLine);
    return result;
}

#define KIVO_POINTER_VALUE(name, ret, params, args, cls) reinterpret_cast<void*>(name),
std::vector<void*> table() { return {KIVO_ENTRY_POINTS(KIVO_POINTER_VALUE)}; }
#undef KIVO_POINTER_VALUE

bool tableIsNull() {
    for (void* p : table()) {
        if (p != nullptr) return false;
    }
    return true;
}

class LoaderTest : public ::testing::Test {
protected:
    void TearDown() override { KiVoPxiUnload(); }

    int32_t load(const std::string& sPath) {
        CaptureStderr();
        int32_t nLevel = KiVoPxiLoadByName(sPath.c_str());
        sErr = GetCapturedStderr();
        return nLevel;
    }
    std::string sErr;
};

TEST_F(LoaderTest, CompleteLibraryLoadsAtLevelSixSilently) {
    EXPECT_EQ(load(stub("full")), 6);
    EXPECT_EQ(sErr, "");
    for (void* p : table()) EXPECT_NE(p, nullptr);
}

TEST_F(LoaderTest, OptionalStagesFixTheLevel) {
    struct {
        const char* sStub;
        int32_t nLevel;
        const char* sMissing;
    } cases[] = {{"level1", 1, "KiVoGetParamXML_strLEN"},
                 {"level2", 2, "KiVoFreeFramesCAN"},
                 {"level3", 3, "KiVoFreeDmaUartRawFrame"},
                 {"level4", 4, "KiVoGetParamStructEx_str"},
                 {"level5", 5, "KiVoWriteCANEx"}};
    for (const auto& c : cases) {
        EXPECT_EQ(load(stub(c.sStub)), c.nLevel) << c.sStub;
        std::vector<std::string> errors = lines(sErr);
        ASSERT_EQ(errors.size(), 1u) << sErr;
        EXPECT_NE(errors[0].find(c.sMissing), std::string::npos) << errors[0];
        KiVoPxiUnload();
    }
}

TEST_F(LoaderTest, LevelOneLeavesLaterStagesUnbound) {
    // This stub lacks only the stage-1 entry point; the later ones exist but are not looked up.
    EXPECT_EQ(load(stub("level1")), 1);
    EXPECT_NE(KiVoErrorConstantToString, nullptr);
    EXPECT_EQ(KiVoGetParamXML_strLEN, nullptr);
    EXPECT_EQ(KiVoFreeFramesCAN, nullptr);
    EXPECT_EQ(KiVoReadCANNg, nullptr);
}

TEST_F(LoaderTest, StageFiveBindsAllItsMembersAndReportsEachMissingOne) {
    EXPECT_EQ(load(stub("level5")), 5);
    EXPECT_NE(KiVoReadCANEx, nullptr);
    EXPECT_NE(KiVoReadCANRawFrameEx, nullptr);
    EXPECT_EQ(KiVoWriteCANEx, nullptr);
    EXPECT_NE(KiVoReadCANNg, nullptr);
    KiVoPxiUnload();

    EXPECT_EQ(load(stub("level5_two")), 5);
    EXPECT_EQ(lines(sErr).size(), 2u) << sErr;
}

TEST_F(LoaderTest, MissingMandatoryEntryPointsFailTheLoadWithOneLineEach) {
    EXPECT_EQ(load(stub("no_mandatory")), 0);
    std::vector<std::string> errors = lines(sErr);
    ASSERT_EQ(errors.size(), 2u) << sErr;
    EXPECT_NE(errors[0].find("KiVoGetParam_i64"), std::string::npos);
    EXPECT_NE(errors[1].find("KiVoStopDmaUart"), std::string::npos);
    EXPECT_TRUE(tableIsNull());

    // A later load starts afresh.
    EXPECT_EQ(load(stub("full")), 6);
}

TEST_F(LoaderTest, SecondLoadKeepsTheFirstLibrary) {
    ASSERT_EQ(load(stub("full")), 6);
    std::vector<void*> before = table();
    EXPECT_EQ(load(stub("level1")), 6);
    EXPECT_EQ(load("no-such-library.so"), 6);
    EXPECT_EQ(sErr, "");
    EXPECT_EQ(table(), before);
}

TEST_F(LoaderTest, MissingLibraryTriesTheExecutableDirectoryAndFails) {
    EXPECT_EQ(load("libno_such_driver.so"), 0);
    std::vector<std::string> errors = lines(sErr);
    ASSERT_EQ(errors.size(), 2u) << sErr;
    EXPECT_NE(errors[0].find("libno_such_driver.so"), std::string::npos);
    EXPECT_NE(errors[1].find(std::string(QUENO_LOADER_TEST_DIR) + "/libno_such_driver.so"), std::string::npos);
    EXPECT_TRUE(tableIsNull());
}

TEST_F(LoaderTest, LibraryBesideTheExecutableLoadsAfterOneErrorLine) {
    // Not on the search path: only the fallback to this test's own directory finds it.
    EXPECT_EQ(load("libstub_beside.so"), 6);
    EXPECT_EQ(lines(sErr).size(), 1u) << sErr;
}

TEST_F(LoaderTest, NullOrEmptyNameNeverBindsTheProgramItself) {
    EXPECT_EQ(load(""), 0);
    EXPECT_TRUE(tableIsNull());
    EXPECT_EQ(KiVoPxiLoadByName(nullptr), 0);
    EXPECT_TRUE(tableIsNull());
}

TEST_F(LoaderTest, UnloadDeinitialisesOnceAndClearsTheTable) {
    ASSERT_EQ(load(stub("full")), 6);
    // Our own reference keeps the library mapped after the loader closes its handle.
    void* hOwn = dlopen(stub("full").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(hOwn, nullptr);
    int* pnDeInitCalls = static_cast<int*>(dlsym(hOwn, "stub_deinit_calls"));
    ASSERT_NE(pnDeInitCalls, nullptr);
    *pnDeInitCalls = 0;

    KiVoPxiUnload();
    EXPECT_EQ(*pnDeInitCalls, 1);
    EXPECT_TRUE(tableIsNull());
    KiVoPxiUnload();  // nothing loaded: no second de-initialisation
    EXPECT_EQ(*pnDeInitCalls, 1);
    dlclose(hOwn);
}

TEST_F(LoaderTest, LoadQuenoApiReportsAMissingDriver) {
    // The driver's file name is on neither the search path nor beside this test.
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(LoadQuenoApi(), 1);
    std::string sOut = GetCapturedStdout();
    sErr = GetCapturedStderr();
    EXPECT_EQ(sOut, "pxi_api.dll could not be found. Exiting...\n");
    EXPECT_EQ(lines(sErr).size(), 2u);
}

TEST(LoadTestInterface, ReturnsTheFlagOrZero) {
    unsigned char bFlag = 1;
    EXPECT_EQ(KivoPxiLoadTestInterface(&bFlag), 1);
    bFlag = 0;
    EXPECT_EQ(KivoPxiLoadTestInterface(&bFlag), 0);
    EXPECT_EQ(KivoPxiLoadTestInterface(nullptr), 0);
}

}  // namespace
