// sorvin-cli as a user runs it: a child process with its own working folder, its stdout and
// stderr caught, optionally started through another program (setpriv, to drop root).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace sorvin::test {

struct CliOutcome {
    int status = -1;        // the exit status, or -1 when a signal ended it
    int signal = 0;         // the signal that ended it, if one did
    bool timedOut = false;  // killed because it ran past its time
    std::string out, err;
};

// The journals' folder (XDG_STATE_HOME) of every sorvin-cli this test process starts: made at the
// first run, removed when the process ends, so no test writes to the home folder.
std::filesystem::path CliStateHome();

class CliProcess {
public:
    // Runs `prefix... sorvin-cli args...` in `cwd`, with LC_ALL=C.UTF-8 so error texts are known.
    CliProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd, const std::vector<std::string>& prefix = {});
    ~CliProcess();  // a process still running is killed
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    pid_t pid() const { return pid_; }
    void signal(int sig) const;
    CliOutcome finish(std::chrono::milliseconds timeout = std::chrono::minutes(2));  // past it, killed, and the outcome says so

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
};

inline CliOutcome RunCli(const std::vector<std::string>& args, const std::filesystem::path& cwd, const std::vector<std::string>& prefix = {},
                         std::chrono::milliseconds timeout = std::chrono::minutes(2))
{
    return CliProcess(args, cwd, prefix).finish(timeout);
}

// The prefix that runs a command as nobody (uid and gid 65534, no groups) when this process is root.
std::vector<std::string> AsUnprivilegedUser();

}  // namespace sorvin::test
