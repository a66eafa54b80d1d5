// kbhit and getch on a real (pseudo-)terminal: time-outs, waiting keys, the interrupt key, the
// terminal's attributes, and a key typed after a time-out.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "console.h"
#include "gtest/gtest.h"
#include "pty_child.h"

namespace {

bool sameAttributes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           memcmp(a.c_cc, b.c_cc, sizeof(a.c_cc)) == 0;
}

std::string attributesUnchangedBy(int (*call)()) {
    termios before = {}, after = {};
    tcgetattr(0, &before);
    int nResult = call();
    tcgetattr(0, &after);
    return std::to_string(nResult) + (sameAttributes(before, after) ? " same" : " changed");
}

TEST(ConsoleOnTerminal, NoKeyTimesOut) {
    PtyChild child = PtyChild::run([](PtyChild& self) {
        self.say(attributesUnchangedBy(kbhit) + " " + attributesUnchangedBy(getch));
        return 0;
    });
    EXPECT_EQ(child.hear(), "0 same -1 same");
    EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleOnTerminal, WaitingKeyIsReportedUntilItIsRead) {
    PtyChild child = PtyChild::run([](PtyChild& self) {
        self.say("ready");
        self.awaitGo();
        int a = kbhit(), b = kbhit();
        std::string sThird = attributesUnchangedBy(getch);
        self.say(std::to_string(a) + " " + std::to_string(b) + " " + sThird + " " + std::to_string(kbhit()));
        return 0;
    });
    ASSERT_EQ(child.hear(), "ready");
    child.type("a");
    child.go();
    EXPECT_EQ(child.hear(), "1 1 97 same 0");  // taken without Enter; then nothing waits
    EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleOnTerminal, InterruptKeyArrivesAsACharacter) {
    PtyChild child = PtyChild::run([](PtyChild& self) {
        static volatile sig_atomic_t bInterrupted = 0;
        signal(SIGINT, [](int) { bInterrupted = 1; });
        self.say("ready");
        int nChar = -1;
        for (int i = 0; i < 200 && nChar < 0; ++i) nChar = getch();  // a read is in progress
        self.say(std::to_string(nChar) + (bInterrupted ? " signalled" : " quiet"));
        return 0;
    });
    ASSERT_EQ(child.hear(), "ready");
    usleep(30000);  // let the child enter a read; a key between two reads would raise SIGINT
    child.type("\x03");
    EXPECT_EQ(child.hear(), "3 quiet");
    EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleOnTerminal, KeyTypedAfterATimeOutIsSeen) {
    PtyChild child = PtyChild::run([](PtyChild& self) {
        int nFirst = kbhit();  // times out: the stream must not stay at end of file
        self.say("timed out " + std::to_string(nFirst));
        self.awaitGo();
        int nSecond = kbhit();
        int nKey = getch();
        self.say(std::to_string(nSecond) + " " + std::to_string(nKey));
        return 0;
    });
    ASSERT_EQ(child.hear(), "timed out 0");
    child.type("z");
    child.go();
    EXPECT_EQ(child.hear(), "1 122");
    EXPECT_EQ(child.wait(), 0);
}

TEST(ConsoleOnTerminal, AttributesAreRestoredForTheTerminal) {
    PtyChild child = PtyChild::run([](PtyChild& self) {
        for (int i = 0; i < 3; ++i) kbhit();
        self.say("done");
        return 0;
    });
    EXPECT_EQ(child.hear(), "done");
    EXPECT_EQ(child.wait(), 0);
    EXPECT_TRUE(sameAttributes(child.initialAttributes(), child.currentAttributes()));
}

TEST(Sleep, SplitsIntoSubSecondAndWholeSeconds) {
    // Only the result is checked here; how long it takes is a benchmark's business.
    EXPECT_EQ(Sleep(0), 0u);
    EXPECT_EQ(Sleep(5), 0u);
}

TEST(StopWatch, ReadsZeroWhateverWasCalled) {
    int nWatch = 0;
    QUENO_StopWatch_Create(&nWatch);
    QUENO_StopWatch_Start(&nWatch);
    QUENO_StopWatch_Stop(&nWatch);
    EXPECT_EQ(QUENO_StopWatch_GetUS(&nWatch), 0);
    EXPECT_EQ(QUENO_StopWatch_GetMS(nullptr), 0);
    QUENO_StopWatch_Destroy(&nWatch);
}

}  // namespace
