#include "cli/terminal_window.h"

#include <unistd.h>

#include <cstdio>

#include "run/driver.h"
#include "shared/state.h"

namespace sorvin::cli {

volatile std::sig_atomic_t TerminalWindow::stopRequested = 0;

TerminalWindow::TerminalWindow(fs::FileSystem& fs, std::map<MenuOption, bool> options, bool folderKeep, bool copy)
    : fs_(fs), options_(std::move(options)), folderKeep_(folderKeep), modeText_(copy ? "コピー" : "移動"),
      stderrIsTerminal_(isatty(STDERR_FILENO) == 1)
{
}

bool TerminalWindow::checked(MenuOption option) const
{
    auto it = options_.find(option);
    return it != options_.end() && it->second;
}

void TerminalWindow::setCaption(const std::string& text)
{
    caption_ = text;
    if (!stderrIsTerminal_) return;
    std::fprintf(stderr, "\r\033[K%s", text.c_str());
    std::fflush(stderr);
    progressShown_ = true;
}

void TerminalWindow::finishProgress()
{
    if (!progressShown_) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progressShown_ = false;
}

void TerminalWindow::message(const std::string& text, MessageTitle title, MessageIcon)
{
    finishProgress();
    std::fprintf(stderr, "%s: %s\n", TitleText(title), text.c_str());
    std::fflush(stderr);
}

void TerminalWindow::yield()
{
    // Like the window's stop button: it takes one press, and only while it is enabled.
    if (stopRequested && cancelEnabled_) {
        stopRequested = 0;
        run::CancelClick(*this, fs_);
    }
}

}  // namespace sorvin::cli
