// The MQTT spool: rows come out in the order they went in, through memory and the file; a full
// spool drops the oldest row never handed out, exactly counted; a row that may have reached the
// broker is never dropped and goes again after a reconnect; a file that cannot be made costs the
// rows beyond memory, said once.
#include <stdint.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mqtt_spool.h"

namespace {

using qlog::MqttSpool;

std::string row(int n) { return "row " + std::to_string(n) + std::string(40, '.'); }

// Hands out and acknowledges everything, as a broker that takes all; the rows in the order sent.
std::vector<std::string> drain(MqttSpool& spool) {
    std::vector<std::string> sent;
    uint64_t nSeq = 0;
    while (const std::string* pRow = spool.nextUnsent(&nSeq)) {
        sent.push_back(*pRow);
        spool.sent();
        spool.acknowledged(nSeq);
    }
    return sent;
}

TEST(MqttSpool, RowsComeBackInOrderThroughMemoryAndTheFile) {
    // Memory for about 4 rows: the rest go through the file, in several rounds.
    for (uint64_t nCapacity : {uint64_t{0}, uint64_t{1000}}) {
        MqttSpool spool(nCapacity, 4 * MqttSpool::memoryOf(row(0)), "/tmp");
        std::vector<std::string> in;
        std::string sProblem;
        for (int n = 0; n < 100; ++n) {
            in.push_back(row(n));
            ASSERT_TRUE(spool.add(row(n), &sProblem)) << sProblem;
            if (n == 50) {  // half of them taken while the rest still come in
                const std::vector<std::string> first = drain(spool);
                ASSERT_EQ(first, std::vector<std::string>(in.begin(), in.end()));
            }
        }
        EXPECT_LE(spool.memoryBytes(), 4 * MqttSpool::memoryOf(row(0)));
        const std::vector<std::string> rest = drain(spool);
        EXPECT_EQ(rest, std::vector<std::string>(in.begin() + 51, in.end()));
        EXPECT_TRUE(spool.empty());
        EXPECT_EQ(spool.dropped(), 0u);
    }
}

TEST(MqttSpool, AFullSpoolDropsTheOldestUnsentAndKeepsWhatMayHaveArrived) {
    MqttSpool spool(10, 1 << 20, "/tmp");
    std::string sProblem;
    uint64_t nSeq = 0;
    for (int n = 0; n < 3; ++n) ASSERT_TRUE(spool.add(row(n), &sProblem));
    for (int n = 0; n < 3; ++n) {  // in flight when the broker goes away
        ASSERT_NE(spool.nextUnsent(&nSeq), nullptr);
        spool.sent();
    }
    for (int n = 3; n < 25; ++n) spool.add(row(n), &sProblem);
    EXPECT_EQ(spool.dropped(), 15u);  // 25 rows, room for 10
    spool.resendAll();                // the reconnect: rows 0..2 go again, then the newest seven
    std::vector<std::string> expected = {row(0), row(1), row(2)};
    for (int n = 18; n < 25; ++n) expected.push_back(row(n));
    EXPECT_EQ(drain(spool), expected);

    // At the end, what the broker has not taken counts as dropped.
    for (int n = 0; n < 4; ++n) spool.add(row(n), &sProblem);
    spool.dropRest();
    EXPECT_EQ(spool.dropped(), 19u);
    EXPECT_TRUE(spool.empty());
}

TEST(MqttSpool, AFileThatCannotBeMadeCostsTheRowsBeyondMemorySaidOnce) {
    MqttSpool spool(0, 2 * MqttSpool::memoryOf(row(0)), "/nonexistent-folder");
    std::string sProblem;
    EXPECT_TRUE(spool.add(row(0), &sProblem));
    EXPECT_TRUE(spool.add(row(1), &sProblem));
    EXPECT_FALSE(spool.add(row(2), &sProblem));
    EXPECT_NE(sProblem.find("No such file or directory"), std::string::npos) << sProblem;
    sProblem.clear();
    EXPECT_FALSE(spool.add(row(3), &sProblem));
    EXPECT_EQ(sProblem, "");
    EXPECT_EQ(spool.dropped(), 2u);
    EXPECT_EQ(drain(spool), (std::vector<std::string>{row(0), row(1)}));
}

}  // namespace
