#include "cli/terminal_window.h"

#include <unistd.h>

#include <cstdio>


namespace sorvin::cli {

TerminalWindow::TerminalWindow(fs::FileSystem& fs, std::map<MenuOption, bool> options, bool folderKeep, GatherMode mode)
    : fs_(fs), options_(std::move(options)), folderKeep_(folderKeep), mode_(mode),
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
    if (!progress_) return;
    progress_->setCaption(text);
    progress_->update();
}

void TerminalWindow::countSources(const std::vector<std::filesystem::path>& sources)
{
    if (stderrIsTerminal_) progress_.emplace(fs::MeasureTrees(fs_, sources));
}

void TerminalWindow::fileStarted(const fs::Entry& file)
{
    if (!progress_) return;
    std::uint64_t size = 0;
    try {
        size = fs_.fileSize(file);
    } catch (const fs::FsError&) {
    }
    progress_->fileStarted(size);
    progress_->update();
}

void TerminalWindow::fileCopied(std::uint64_t transferred)
{
    if (progress_) progress_->fileCopied(transferred);
}

void TerminalWindow::finishProgress()
{
    if (progress_) progress_->clear();
}

void TerminalWindow::message(const std::string& text, MessageTitle title, MessageIcon)
{
    finishProgress();
    std::fprintf(stderr, "%s: %s\n", TitleText(title), text.c_str());
    std::fflush(stderr);
}

}  // namespace sorvin::cli
