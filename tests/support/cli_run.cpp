#include "support/cli_run.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace sorvin::test {

std::filesystem::path CliStateHome()
{
    struct Home {
        Home() : path(mkdtemp(name) ? name : throw std::runtime_error("mkdtemp failed")) {}
        ~Home() { std::filesystem::remove_all(path); }
        char name[25] = "/tmp/sorvin-state-XXXXXX";
        std::filesystem::path path;
    };
    static const Home home;
    return home.path;
}

CliProcess::CliProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd, const std::vector<std::string>& prefix)
{
    // In-memory files: nothing to clean up, and a child without rights to any folder can still write them.
    out_ = memfd_create("sorvin-cli-out", MFD_CLOEXEC);
    err_ = memfd_create("sorvin-cli-err", MFD_CLOEXEC);
    std::vector<std::string> command = prefix;
    command.push_back(SORVIN_CLI);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string stateHome = CliStateHome().native();
    if (out_ < 0 || err_ < 0 || (pid_ = fork()) < 0) throw std::runtime_error("cannot start sorvin-cli");
    if (pid_ == 0) {
        if (chdir(cwd.c_str()) != 0) _exit(126);
        dup2(out_, 1);
        dup2(err_, 2);
        setenv("LC_ALL", "C.UTF-8", 1);
        setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
        execvp(argv[0], argv.data());
        _exit(127);
    }
}

CliProcess::~CliProcess()
{
    if (pid_ > 0) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
    close(out_);
    close(err_);
}

void CliProcess::signal(int sig) const { pid_ > 0 && kill(pid_, sig); }

CliOutcome CliProcess::finish(std::chrono::milliseconds timeout)
{
    CliOutcome o;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = -1;  // neither an exit nor a signal
    while (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == 0) {
        if ((o.timedOut = std::chrono::steady_clock::now() > deadline)) kill(pid_, SIGKILL), waitpid(pid_, &status, 0);
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pid_ = -1;
    if (WIFEXITED(status)) o.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
    for (auto [fd, text] : {std::pair {out_, &o.out}, std::pair {err_, &o.err}}) {
        char buf[65536];
        for (ssize_t n, at = 0; (n = pread(fd, buf, sizeof buf, at)) > 0; at += n) text->append(buf, static_cast<std::size_t>(n));
    }
    return o;
}

std::vector<std::string> AsUnprivilegedUser()
{
    return geteuid() != 0 ? std::vector<std::string> {} : std::vector<std::string> {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
}

}  // namespace sorvin::test
