// A child process whose standard input, output and error are a pseudo-terminal that the test
// drives from the master side, with a pipe each way for the test's own messages.
#pragma once

#include <sys/types.h>
#include <termios.h>

#include <functional>
#include <string>
#include <vector>

class PtyChild {
public:
    // Runs body in the child; its return value is the child's exit status. The body talks to the
    // test with say() and awaitGo().
    static PtyChild run(const std::function<int(PtyChild&)>& body);
    // Runs a program on the terminal with extra environment entries ("NAME=value").
    static PtyChild exec(const std::vector<std::string>& args, const std::vector<std::string>& env);
    // The same in a process group of its own, in the background of the terminal (as `program &`):
    // the terminal's session leader waits for it and passes its exit status on.
    static PtyChild execInBackground(const std::vector<std::string>& args, const std::vector<std::string>& env);
    // Sends a signal to the program (the background one, where there is one).
    void signal(int nSignal);
    ~PtyChild();
    // It owns the process and the descriptors: moved, never copied.
    PtyChild(PtyChild&& other) noexcept;
    PtyChild(const PtyChild&) = delete;
    PtyChild& operator=(const PtyChild&) = delete;

    // Child side.
    void say(const std::string& sMessage);  // one line to the test
    void awaitGo();                          // waits for go() from the test

    // Test side.
    std::string hear();                      // the child's next say(), "" after a guard time
    void go();
    void type(const std::string& sKeys);     // as if typed on the keyboard
    // Terminal output until it contains sNeedle (true) or a guard time ran out (false).
    bool readUntil(const std::string& sNeedle, std::string* pOutput, int nGuardMs = 20000);
    int wait();                              // the exit status, -1 when killed or not exited
    const termios& initialAttributes() const { return initial_; }
    termios currentAttributes() const;

private:
    PtyChild() = default;
    bool fork();
    pid_t pid_ = -1;
    pid_t nProgram_ = -1;  // the program that signal() reaches
    int nMaster_ = -1;
    int nSlave_ = -1;  // kept open in the test so the terminal outlives the child
    int nToTest_[2] = {-1, -1};
    int nToChild_[2] = {-1, -1};
    termios initial_ = {};
};
