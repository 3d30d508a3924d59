#include "support/cli_run.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#ifndef SORVIN_CLI
#error "SORVIN_CLI must name the sorvin-cli binary"
#endif

namespace sorvin::test {

namespace {

std::string ReadAll(int fd)
{
    std::string text;
    char buf[65536];
    for (off_t at = 0;;) {
        const ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

}  // namespace

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                       const std::vector<std::string>& prefix)
{
    // In-memory files: nothing to clean up, and a child without rights to any folder can still write them.
    out_ = memfd_create("sorvin-cli-out", MFD_CLOEXEC);
    err_ = memfd_create("sorvin-cli-err", MFD_CLOEXEC);
    if (out_ < 0 || err_ < 0) throw std::runtime_error("memfd_create failed");
    std::vector<std::string> command = prefix;
    command.push_back(SORVIN_CLI);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        dup2(out_, 1);
        dup2(err_, 2);
        setenv("LC_ALL", "C.UTF-8", 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

CliProcess::~CliProcess()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(out_);
    close(err_);
}

void CliProcess::signal(int sig) const
{
    if (pid_ > 0) kill(pid_, sig);
}

CliOutcome CliProcess::finish(std::chrono::milliseconds timeout)
{
    CliOutcome o;
    if (pid_ <= 0) return o;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            o.timedOut = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
    if (WIFEXITED(status)) o.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
    o.out = ReadAll(out_);
    o.err = ReadAll(err_);
    return o;
}

CliOutcome RunCli(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                  const std::vector<std::string>& prefix, std::chrono::milliseconds timeout)
{
    return CliProcess(args, cwd, prefix).finish(timeout);
}

std::vector<std::string> AsUnprivilegedUser()
{
    if (geteuid() != 0) return {};
    return {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

}  // namespace sorvin::test
