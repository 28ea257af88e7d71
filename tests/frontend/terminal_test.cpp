// The program on a terminal: Shift-JIS shown as UTF-8 under a UTF-8 locale, left alone
// under another, and a key wait that takes one key without echo and gives the terminal
// its mode back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "support.h"

namespace {

struct TerminalRun {
    std::string output;
    int exit_code = -1;  // 128 + the signal when one ended the process
    bool echo_restored = false;
};

// Reads what the terminal shows until it ends with the given text, or for at most five
// seconds.
std::string read_until(int master, const std::string& end) {
    std::string text;
    char buffer[1024];
    pollfd p{master, POLLIN, 0};
    for (int waited = 0; waited < 5000; waited += 10) {
        if (text.size() >= end.size() &&
            text.compare(text.size() - end.size(), end.size(), end) == 0)
            break;
        if (poll(&p, 1, 10) <= 0) continue;
        ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

// Waits until the program has switched echo off for its key wait.
bool echo_switched_off(int slave) {
    termios mode;
    for (int waited = 0; waited < 5000; waited += 10) {
        if (tcgetattr(slave, &mode) == 0 && (mode.c_lflag & ECHO) == 0) return true;
        usleep(10000);
    }
    return false;
}

// Runs pelkat with its standard input and output on a new terminal, types one key (or
// sends SIGTERM) once the prompt is out, and reads what the terminal shows.
TerminalRun run_on_terminal(const char* locale, const char* argument, bool terminate = false) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) std::abort();
    std::string slave_name = ptsname(master);
    int slave = open(slave_name.c_str(), O_RDWR | O_NOCTTY);
    termios mode;
    tcgetattr(slave, &mode);
    mode.c_oflag &= ~static_cast<tcflag_t>(OPOST);  // show line ends as they are sent
    tcsetattr(slave, TCSANOW, &mode);

    pid_t child = fork();
    if (child == 0) {
        setsid();
        dup2(slave, 0);
        dup2(slave, 1);
        close(slave);
        close(master);
        setenv("LC_ALL", locale, 1);
        execl(PELKAT_PROGRAM, PELKAT_PROGRAM, argument, static_cast<char*>(nullptr));
        _exit(127);
    }
    TerminalRun run;
    run.output = read_until(master, " ]\n");
    bool raw = echo_switched_off(slave);
    if (terminate) {
        kill(child, SIGTERM);
    } else if (write(master, "k", 1) != 1) {
        std::abort();
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.exit_code = 128 + WTERMSIG(status);
    termios after;
    tcgetattr(slave, &after);
    run.echo_restored = raw && (after.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON);
    // Nothing more may show up: the key is not echoed.
    pollfd p{master, POLLIN, 0};
    char extra[64];
    if (poll(&p, 1, 50) > 0) {
        ssize_t n = read(master, extra, sizeof extra);
        if (n > 0) run.output.append(extra, static_cast<size_t>(n));
    }
    close(slave);
    close(master);
    return run;
}

}  // namespace

TEST(PelkatTerminal, ShowsShiftJisAsUtf8UnderAUtf8Locale) {
    TerminalRun run = run_on_terminal("C.UTF-8", "backup.txt");
    EXPECT_EQ(run.output,
              u8"<<< Pelkat Ver1.3 by T.Quelm >>>\n\n"
              u8"Error: ファイル名backup.txtはリネームしてから使ってください\n"
              u8"[ 何かキーを押して下さい ]\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(run.echo_restored);
}

TEST(PelkatTerminal, LeavesTheBytesAloneUnderOtherLocales) {
    TerminalRun run = run_on_terminal("C", "backup.sav");
    EXPECT_EQ(run.output,
              "<<< Pelkat Ver1.3 by T.Quelm >>>\n\n"
              "Error: ファイル名backup.savはリネームしてから使ってください\n"
              "[ 何かキーを押して下さい ]\n");
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_TRUE(run.echo_restored);
}

TEST(PelkatTerminal, GivesTheTerminalItsModeBackWhenASignalEndsTheKeyWait) {
    TerminalRun run = run_on_terminal("C", "backup.txt", true);
    EXPECT_EQ(run.exit_code, 128 + SIGTERM);
    EXPECT_TRUE(run.echo_restored);
}
