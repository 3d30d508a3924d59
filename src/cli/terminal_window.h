// The window as a terminal shows it: options come from the command line, message boxes go to
// stderr, the caption and the whole run's progress make one line on stderr when it is a terminal,
// and the log pane's last text is what the run prints.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/progress_line.h"
#include "fs/file_system.h"
#include "shared/window.h"

namespace sorvin::cli {

class TerminalWindow final : public Window {
public:
    TerminalWindow(fs::FileSystem& fs, std::map<MenuOption, bool> options, bool folderKeep, GatherMode mode);

    bool checked(MenuOption option) const override;
    bool folderKeep() const override { return folderKeep_; }
    GatherMode mode() const override { return mode_; }
    std::string pathText() const override { return pathText_; }
    void setPathText(const std::string& text) { pathText_ = text; }

    void setPaneText(const std::string& text) override { pane_ = text; }
    void setCaption(const std::string& text) override;
    std::string caption() const override { return caption_; }
    void setProgressValue(int) override {}
    void setProgressMax(int) override {}
    void setProgressVisible(bool) override {}
    void setCancelEnabled(bool) override {}
    void setExecEnabled(bool) override {}
    bool execEnabled() const override { return false; }
    void setDropMode(DropTarget, DropMode) override {}
    void setMenuEnabled(bool) override {}
    void message(const std::string& text, MessageTitle title, MessageIcon icon) override;
    // Ctrl-C raises the stop flag itself: nothing waits to be handled here.
    void yield() override {}
    void fileStarted(const fs::Entry& file) override;
    void fileCopied(std::uint64_t transferred) override;

    const std::string& pane() const { return pane_; }
    // When stderr is a terminal, walks the sources for the progress line's totals; otherwise
    // nothing is walked and no progress is ever shown.
    void countSources(const std::vector<std::filesystem::path>& sources);
    // Clears the progress line, when there is one, before the log is printed.
    void finishProgress();

private:
    fs::FileSystem& fs_;
    std::map<MenuOption, bool> options_;
    bool folderKeep_;
    GatherMode mode_;
    std::string pathText_;
    std::string pane_;
    std::string caption_;
    const bool stderrIsTerminal_;
    std::optional<ProgressLine> progress_;
};

}  // namespace sorvin::cli
