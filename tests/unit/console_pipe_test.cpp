// kbhit and getch when standard input is no terminal: a pipe that stays open, a pipe at its end, a
// closed descriptor. Each call returns (within its 0.1 s wait), bytes count as keys, and a key
// stays readable until it is read.
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <string>

#include "console.h"
#include "gtest/gtest.h"
#include "stop_signals.h"

namespace {

// Standard input replaced by a pipe for one test; the write end is the test's.
class PipeAsStdin : public ::testing::Test {
protected:
    void SetUp() override {
        // Started without standard input, descriptor 0 would be reused by the pipe below.
        if (fcntl(0, F_GETFD) == -1) {
            ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
        }
        nSaved_ = dup(0);
        ASSERT_EQ(pipe(nPipe_), 0);
        dup2(nPipe_[0], 0);
        close(nPipe_[0]);
        __fpurge(stdin);
        clearerr(stdin);
    }
    void TearDown() override {
        closeWriteEnd();
        dup2(nSaved_, 0);
        close(nSaved_);
        __fpurge(stdin);
        clearerr(stdin);
    }
    void send(const std::string& s) { ASSERT_EQ(write(nPipe_[1], s.data(), s.size()), static_cast<ssize_t>(s.size())); }
    void closeWriteEnd() {
        if (nPipe_[1] >= 0) close(nPipe_[1]);
        nPipe_[1] = -1;
    }
    int nSaved_ = -1;
    int nPipe_[2] = {-1, -1};
};

TEST_F(PipeAsStdin, OpenPipeWithoutDataGivesNoKey) {
    EXPECT_EQ(kbhit(), 0);
    EXPECT_EQ(getch(), -1);
    send("k");  // a byte after a time-out is still seen
    EXPECT_EQ(kbhit(), 1);
    EXPECT_EQ(getch(), 'k');
}

TEST_F(PipeAsStdin, ByteIsAKeyUntilItIsRead) {
    send("ab");
    EXPECT_EQ(kbhit(), 1);
    EXPECT_EQ(kbhit(), 1);
    EXPECT_EQ(getch(), 'a');
    EXPECT_EQ(kbhit(), 1);  // read ahead into the stream, not in the pipe any more
    EXPECT_EQ(getch(), 'b');
    EXPECT_EQ(kbhit(), 0);
}

TEST_F(PipeAsStdin, EndOfInputGivesNoKeyAgainAndAgain) {
    send("z");
    closeWriteEnd();
    EXPECT_EQ(getch(), 'z');
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kbhit(), 0);
        EXPECT_EQ(getch(), -1);
    }
}

TEST_F(PipeAsStdin, ClosedDescriptorGivesNoKey) {
    close(0);
    EXPECT_EQ(kbhit(), 0);
    EXPECT_EQ(getch(), -1);
}

// A first stop signal only sets the flag, a first one of another kind too; the second of a kind
// ends the process at once with 128 + signal.
TEST(StopSignalsDeathTest, SecondSignalOfAKindEndsTheProcess) {
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP}) {
        int nOther = nSignal == SIGTERM ? SIGINT : SIGTERM;
        EXPECT_EXIT(
            {
                InstallStopSignals();
                raise(nSignal);
                raise(nOther);
                if (StopSignalReceived() != nSignal) _exit(1);
                raise(nSignal);
                _exit(2);
            },
            ::testing::ExitedWithCode(128 + nSignal), "")
            << nSignal;
    }
}

}  // namespace
