#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/progress.h"
#include "platform/ui.h"

using glx::platform::ProgressGate;
using glx::platform::progressText;

TEST(ProgressGate, ShowsNothingForShortRunsThenRedrawsAtALimitedRate) {
    ProgressGate gate(0.5, 0.1);
    EXPECT_FALSE(gate.due(10.0, 0, 100));  // the run's clock starts here
    EXPECT_FALSE(gate.due(10.3, 1, 100));
    EXPECT_FALSE(gate.shown());
    EXPECT_TRUE(gate.due(10.5, 2, 100));  // long enough: shown
    EXPECT_TRUE(gate.shown());
    EXPECT_FALSE(gate.due(10.55, 3, 100));  // too soon for another redraw
    EXPECT_FALSE(gate.due(10.59, 4, 100));
    EXPECT_TRUE(gate.due(10.61, 5, 100));
    EXPECT_TRUE(gate.due(10.62, 100, 100));  // the last item always lands
}

TEST(ProgressGate, AShortRunThatEndsNeverShowsAndResetStartsAFreshRun) {
    ProgressGate gate(0.5, 0.1);
    EXPECT_FALSE(gate.due(1.0, 0, 2));
    EXPECT_FALSE(gate.due(1.1, 2, 2));  // finished quickly: still nothing
    EXPECT_TRUE(gate.due(2.0, 2, 2));
    gate.reset();
    EXPECT_FALSE(gate.shown());
    EXPECT_FALSE(gate.due(5.0, 0, 3));  // a new run waits its own delay
    EXPECT_FALSE(gate.due(5.4, 1, 3));
    EXPECT_TRUE(gate.due(5.5, 1, 3));
}

TEST(ProgressText, FitsTheWidthWithoutSplittingCharacters) {
    EXPECT_EQ(progressText(3, 10, "a.png", 80), "3/10 a.png");
    EXPECT_EQ(progressText(3, 10, "", 80), "3/10");
    EXPECT_EQ(progressText(3, 10, "abcdefgh.png", 10), "3/10 abcde");
    // The counter is kept even when the line is narrower than it.
    EXPECT_EQ(progressText(123, 456, "x.png", 3), "123/456");
    // "é" is two bytes; a cut in its middle steps back before it.
    EXPECT_EQ(progressText(1, 2, "\xC3\xA9\xC3\xA9", 7), "1/2 \xC3\xA9");
    EXPECT_EQ(progressText(1, 2, "\xC3\xA9\xC3\xA9", 5), "1/2");
}

// The terminal back-end's progress line, seen through a pseudo-terminal as
// a user's terminal would show it, and through a pipe as a script sees it.
namespace {

// Runs a short job in a child whose standard output and error go to fd.
void runJob(int fd) {
    ::dup2(fd, STDOUT_FILENO);
    ::dup2(fd, STDERR_FILENO);
    auto ui = glx::platform::makeTerminalBackend();
    ui->progress(0, 3, "a.png");
    ::usleep(600 * 1000);  // past the delay after which progress is shown
    ui->progress(1, 3, "b.png");
    ui->messageBox("Glumixer", "3 Pictures gummed!   ", 64);
    ui->progressEnd();
    ::_exit(0);
}

std::string drain(int fd) {
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
}

}  // namespace

TEST(TerminalProgress, OneSelfOverwritingLineOnATerminalClearedBeforeMessages) {
    int master = -1, slave = -1;
    ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(master);
        runJob(slave);
    }
    ::close(slave);
    const std::string shown = drain(master);  // ends with EIO once the child is gone
    ::close(master);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(shown.find("0/3"), std::string::npos) << "nothing is drawn before the delay";
    const size_t line = shown.find("\r1/3 b.png\x1b[K");
    const size_t cleared = shown.find("\r\x1b[K3 Pictures gummed!");
    ASSERT_NE(line, std::string::npos) << shown;
    ASSERT_NE(cleared, std::string::npos) << shown;
    EXPECT_LT(line, cleared);
}

TEST(TerminalProgress, NothingButTheMessageWhenOutputIsNotATerminal) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        runJob(fds[1]);
    }
    ::close(fds[1]);
    const std::string shown = drain(fds[0]);
    ::close(fds[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(shown, "3 Pictures gummed!\n");
}
