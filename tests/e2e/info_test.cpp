// queno_info against the simulator with descriptions of its own: the exact text tree of a small
// one, the JSON document compared with what the descriptions say, each option, a failing query,
// a rejected board and a missing driver.

#include <nlohmann/json.hpp>
#include <algorithm>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

using Json = nlohmann::json;

std::string data(const char* sName) { return std::string(QUENO_TEST_DATA_DIR) + "/" + sName; }

RunResult runInfo(std::vector<std::string> args, const char* sSystem = "info_small.xml", std::string sFaults = "") {
    RunOptions options;
    options.sExecutable = QUENO_INFO_PATH;
    options.args = std::move(args);
    if (sSystem != nullptr) options.env["QUENO_SIM_SYSTEM"] = data(sSystem);
    if (!sFaults.empty()) options.env["QUENO_SIM_FAULTS"] = sFaults;
    RunResult r = runExample(options);
    EXPECT_FALSE(r.bTimedOut);
    return r;
}

Json runJson(std::vector<std::string> args, const char* sSystem = "info_small.xml", int nStatus = 0) {
    args.push_back("--json");
    RunResult r = runInfo(args, sSystem);
    EXPECT_EQ(r.nExitStatus, nStatus) << r.sErr;
    return Json::parse(r.sOut, nullptr, false);
}

const char kRtdLists[] =
    "      Range: -200.000000..850.000000 degC, -100.000000..200.000000 degC\n"
    "      LinearisationTable: PTX\n"
    "      Excitation: 0.500000 mA\n"
    "      SensorRes0: Min=10 Max=10000 Default=100 Unit=Ohm\n"
    "      IIRFilter_VAL: Min=0 Max=1000\n";
const char kFirstLine[] = "Board 0: QUENO-1600-UNIV, serial S1\n";

TEST(Info, TextTreeGroupsChannelsThatAreAlike) {
    RunResult r = runInfo({});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sErr, kFirstOpenError);
    EXPECT_EQ(r.sOut, std::string(kFirstLine) +
                          "  Sample rate: 5..1000 S/s\n"
                          "  AI resolutions: 24 bits\n"
                          "  Channels: AI 4, CNT 1, Discret 0, BoardCNT 0, UART 2\n"
                          "  AI0..AI1\n"
                          "    Mode RTD-Temperature\n" +
                          kRtdLists +
                          "  AI2\n"
                          "    Mode Voltage\n"
                          "      Range: -1.000000..1.000000 V\n"
                          "  AI3\n"
                          "    Mode RTD-Temperature\n" +
                          kRtdLists +
                          "  CNT0\n"
                          "    Mode Frequency\n"
                          "      GateTime: 10 ms, 100 ms\n"
                          "  UART0..UART1\n");
}

TEST(Info, JsonListsEveryChannelOnItsOwn) {
    Json rtd = {{"name", "RTD-Temperature"},
                {"lists",
                 {{"Range", {"-200.000000..850.000000 degC", "-100.000000..200.000000 degC"}},
                  {"LinearisationTable", {"PTX"}},
                  {"Excitation", {"0.500000 mA"}}}},
                {"settings",
                 {{"SensorRes0", {{"Min", 10}, {"Max", 10000}, {"Default", 100}, {"Unit", "Ohm"}}},
                  {"IIRFilter_VAL", {{"Min", 0}, {"Max", 1000}}}}}};
    Json voltage = {{"name", "Voltage"}, {"lists", {{"Range", {"-1.000000..1.000000 V"}}}}, {"settings", Json::object()}};
    Json ai = Json::array();
    for (int c = 0; c < 4; ++c) ai.push_back({{"channel", c}, {"modes", {c == 2 ? voltage : rtd}}});
    Json expected = {
        {"boards",
         {{{"id", 0},
           {"name", "QUENO-1600-UNIV"},
           {"serial", "S1"},
           {"sampleRate", {{"min", 5}, {"max", 1000}}},
           {"resolutionsAI", {24}},
           {"channels",
            {{"AI", ai},
             {"CNT", {{{"channel", 0},
                       {"modes", {{{"name", "Frequency"}, {"lists", {{"GateTime", {"10 ms", "100 ms"}}}}, {"settings", Json::object()}}}}}}},
             {"Discret", Json::array()},
             {"BoardCNT", Json::array()},
             {"UART", {{{"channel", 0}}, {{"channel", 1}}}}}},
           {"channelCounts", {{"AI", 4}, {"CNT", 1}, {"Discret", 0}, {"BoardCNT", 0}, {"UART", 2}}}}}}};
    EXPECT_EQ(runJson({}), expected);
}

TEST(Info, JsonOfSeveralBoardsFollowsTheirDescriptions) {
    // These boards describe no sample-rate limits: they have those of the family.
    Json all = runJson({}, "three_boards.xml");
    ASSERT_EQ(all["boards"].size(), 3u);
    const char* names[] = {"QUENO-1600-UNIV", "QUENO-800-AI", "QUENO-1600-UNIV-R2"};
    const size_t aiCounts[] = {8, 4, 8};
    for (size_t b = 0; b < 3; ++b) {
        const Json& board = all["boards"][b];
        EXPECT_EQ(board["id"], b);
        EXPECT_EQ(board["name"], names[b]);
        EXPECT_EQ(board["sampleRate"], Json({{"min", 1}, {"max", 20000}}));
        EXPECT_EQ(board["channels"]["AI"].size(), aiCounts[b]);
        EXPECT_EQ(board["channelCounts"]["AI"], aiCounts[b]);
    }
    const Json& modes = all["boards"][2]["channels"]["AI"][7]["modes"];
    ASSERT_EQ(modes.size(), 2u);
    EXPECT_EQ(modes[0]["name"], "Voltage");
    EXPECT_EQ(modes[1]["lists"]["LinearisationTable"], Json({"PT100", "PTX"}));
    EXPECT_EQ(modes[1]["lists"]["Excitation"], Json({"0.500000 mA", "1.000000 mA"}));
    EXPECT_EQ(modes[1]["settings"]["IIRFilter_VAL"], Json({{"Min", 0}, {"Max", 1000}}));

    Json one = runJson({"1"}, "three_boards.xml");  // only board 1
    ASSERT_EQ(one["boards"].size(), 1u);
    EXPECT_EQ(one["boards"][0], all["boards"][1]);
    EXPECT_EQ(runJson({}, nullptr)["boards"].size(), 2u);  // the built-in system
}

TEST(Info, OptionsAddPathsNetworkAndAdapters) {
    Json extra = runJson({"--paths", "--network", "--adapters"});
    EXPECT_EQ(extra["systemPaths"]["config"], "/opt/queno/config");
    EXPECT_EQ(extra["systemPaths"]["backup"], "/var/lib/queno/backup");
    EXPECT_EQ(extra["network"].get<std::string>().rfind("<NetworkInterfaces>", 0), 0u);
    ASSERT_EQ(extra["adapters"].size(), 7u);
    EXPECT_TRUE(extra["adapters"][0].contains("unit"));
    EXPECT_FALSE(runJson({}).contains("systemPaths"));

    RunResult text = runInfo({"--paths", "--network", "--adapters"});
    EXPECT_EQ(text.nExitStatus, 0);
    EXPECT_NE(text.sOut.find("System paths\n  config: /opt/queno/config\n"), std::string::npos) << text.sOut;
    EXPECT_NE(text.sOut.find("Network interfaces\n<NetworkInterfaces>\n  <Interface>\n"), std::string::npos);
    EXPECT_NE(text.sOut.find("Sensor adapters\n  RUK-"), std::string::npos);

    // Options in any order, the board id among them.
    Json board0 = runJson({"--paths", "0"});
    EXPECT_EQ(board0["boards"].size(), 1u);
    EXPECT_TRUE(board0.contains("systemPaths"));

    // Help, the version and refusals are answered before the driver is loaded.
    struct {
        std::vector<std::string> args;
        int nStatus;
        const char* sOut;
        const char* sErr;
    } cases[] = {{{"--help"}, 0, "Usage: queno_info", ""},
                 {{"0", "-h"}, 0, "Usage: queno_info", ""},
                 {{"--json", "--version"}, 0, "queno_info 1.", ""},
                 {{"--bogus"}, 1, "", "queno_info: unknown argument \"--bogus\"\nUsage:"},
                 {{"0", "1"}, 1, "", "queno_info: unknown argument \"1\"\nUsage:"}};
    for (const auto& c : cases) {
        RunResult r = runInfo(c.args);
        EXPECT_EQ(r.nExitStatus, c.nStatus) << c.args[0];
        EXPECT_EQ(r.sOut.rfind(c.sOut, 0), 0u) << r.sOut;
        EXPECT_EQ(r.sErr.rfind(c.sErr, 0), 0u) << r.sErr;
        EXPECT_TRUE(r.trace.empty());
    }
}

TEST(Info, RejectedBoardIds) {
    for (const char* sId : {"1", "-1", "99999999999"}) {
        RunResult r = runInfo({sId});
        EXPECT_EQ(r.nExitStatus, 1) << sId;
        EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + "queno_info: no board " + sId + ": the driver reports 1 board\n");
        EXPECT_EQ(r.sOut, "");
        EXPECT_EQ(r.trace.back(), "KiVoDriverDeInit() = 0");
    }
}

TEST(Info, FailingQueryIsReportedAndTheListingGoesOn) {
    RunResult r = runInfo({}, "info_small.xml", "KiVoGetParamXML_str#3=1003");
    EXPECT_EQ(r.nExitStatus, 2);
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + "\nError: board is not open\n");
    EXPECT_EQ(r.sOut.rfind(kFirstLine, 0), 0u);
    EXPECT_NE(r.sOut.find("  CNT0\n    Mode Frequency\n"), std::string::npos);
    EXPECT_EQ(r.trace.back(), "KiVoDriverDeInit() = 0");

    RunResult init = runInfo({}, "info_small.xml", "KiVoDriverInit=1001");
    EXPECT_EQ(init.nExitStatus, 1);
    EXPECT_NE(init.sErr.find("queno_info: the driver could not be initialised: "), std::string::npos) << init.sErr;
    EXPECT_EQ(init.sErr.find("Error:"), std::string::npos) << init.sErr;  // said once

    RunResult none = runInfo({"--json"}, "info_small.xml", "boards=0");
    EXPECT_EQ(none.nExitStatus, 1);
    EXPECT_EQ(none.sOut, "");
    EXPECT_EQ(none.sErr, std::string(kFirstOpenError) + "queno_info: the driver finds no QUENO board\n");

    // A number the driver had to cut is no number: 10000000 must not read as 1000000.
    RunResult cut = runInfo({}, "info_small.xml", "text:BoardID0/AI:Channels=123456789012345678901234");
    EXPECT_EQ(cut.nExitStatus, 2);
    EXPECT_NE(cut.sErr.find("answer was cut"), std::string::npos) << cut.sErr;
    // ... and the saturated count is not walked for hours.
    EXPECT_NE(cut.sErr.find("queno_info: board 0: the driver reports 2147483647 AI channels; only the first 4096"),
              std::string::npos)
        << cut.sErr;
}

TEST(Info, WithoutADriverItSaysSo) {
    TempDir dir;
    RunResult r = runAloneIn(dir, QUENO_INFO_PATH);
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.sOut, "");  // what a JSON reader reads stays empty
    EXPECT_NE(r.sErr.find("queno_info: the QUENO driver (libkvpxi_api.so) could not be loaded: install the driver, "
                          "or list the simulated boards with: queno-sim queno_info\n"),
              std::string::npos)
        << r.sErr;
    EXPECT_TRUE(r.trace.empty());
}

}  // namespace

namespace {

// The launcher says in its own words what it cannot run, and its version.
TEST(Launcher, VersionAndACommandThatIsNotThere) {
    if (QUENO_TEST_EMULATOR[0] != '\0') GTEST_SKIP() << "the launcher is a shell script of the build host";
    std::string sLauncher = QUENO_SIM_PATH;
    sLauncher = sLauncher.substr(0, sLauncher.rfind('/')) + "/queno-sim";
    const struct {
        std::vector<std::string> args;
        int nStatus;
        const char* sOut;
        const char* sErr;
    } cases[] = {{{"--version"}, 0, "queno-sim 1.", ""},
                 {{"nosuchcmd", "x"}, 127, "", "queno-sim: nosuchcmd: command not found\n"},
                 {{"--bogus"}, 125, "", "queno-sim: unknown option --bogus\n"}};
    for (const auto& c : cases) {
        RunOptions options;
        options.sExecutable = sLauncher;
        options.args = c.args;
        RunResult r = runExample(options);
        EXPECT_EQ(r.nExitStatus, c.nStatus) << c.args[0];
        EXPECT_EQ(r.sOut.rfind(c.sOut, 0), 0u) << r.sOut;
        EXPECT_EQ(r.sErr.rfind(c.sErr, 0), 0u) << r.sErr;
    }
}

// Every description shipped for users to try works in every tool, on every board it describes:
// no driver error, status 0.
TEST(ShippedDescriptions, WorkInEveryTool) {
    for (const std::string& sSystem : {std::string(QUENO_DEFAULT_SYSTEM), data("three_boards.xml"), data("info_small.xml")}) {
        SCOPED_TRACE(sSystem);
        RunOptions options;
        options.env["QUENO_SIM_SYSTEM"] = sSystem;
        options.sExecutable = QUENO_INFO_PATH;
        options.args = {"--json"};
        RunResult info = runExample(options);
        EXPECT_EQ(info.nExitStatus, 0) << info.sErr;
        EXPECT_EQ(info.sErr, kFirstOpenError);
        const Json boards = Json::parse(info.sOut, nullptr, false)["boards"];
        ASSERT_TRUE(boards.is_array());
        for (const Json& board : boards) {
            options.sExecutable = QUENO_LOG_PATH;
            const int nRate = std::max(board["sampleRate"]["min"].get<int>(), std::min(1000, board["sampleRate"]["max"].get<int>()));
            options.args = {"-b", std::to_string(board["id"].get<int>()), "-r", std::to_string(nRate), "-n", "20", "-q", "-o", "-", "AI0"};
            RunResult log = runExample(options);
            EXPECT_EQ(log.nExitStatus, 0) << board["id"] << log.sErr;
            EXPECT_EQ(log.sErr, kFirstOpenError) << board["id"];
        }
        options.sExecutable = QUENO_EXAMPLE_PATH;
        options.args = {};
        options.env["QUENO_SIM_SCRIPT"] = "25,5,overflow";
        RunResult example = runExample(options);
        EXPECT_EQ(example.nExitStatus, 0) << example.sErr;
        // The scripted run ends with the buffer overflow it reports; nothing else is an error.
        const size_t nError = example.sErr.find("Error:");
        EXPECT_EQ(nError, example.sErr.find("Error: measurement buffer overflow")) << example.sErr;
        EXPECT_EQ(example.sErr.find("Error:", nError + 1), std::string::npos) << example.sErr;
    }
}

}  // namespace
