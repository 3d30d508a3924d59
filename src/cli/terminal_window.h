// The window as a terminal shows it: options come from the command line, message boxes go to
// stderr, the caption and the whole run's progress make one line on stderr when it is a terminal,
// and the log pane's last text is what the run prints.
#pragma once

#include <csignal>
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
    TerminalWindow(fs::FileSystem& fs, std::map<MenuOption, bool> options, bool folderKeep, bool copy);

    bool checked(MenuOption option) const override;
    bool folderKeep() const override { return folderKeep_; }
    std::string modeText() const override { return modeText_; }
    std::string pathText() const override { return pathText_; }
    void setPathText(const std::string& text) override { pathText_ = text; }

    void setPaneText(const std::string& text) override { pane_ = text; }
    void setCaption(const std::string& text) override;
    std::string caption() const override { return caption_; }
    void setProgressValue(int) override {}
    void setProgressMax(int) override {}
    void setProgressVisible(bool) override {}
    void setCancelEnabled(bool enabled) override { cancelEnabled_ = enabled; }
    void setExecEnabled(bool) override {}
    bool execEnabled() const override { return false; }
    void setDropMode(DropTarget, int) override {}
    void setMenuEnabled(bool) override {}
    void message(const std::string& text, MessageTitle title, MessageIcon icon) override;
    void yield() override;
    void fileStarted(const fs::Entry& file) override;
    void fileCopied(std::uint64_t transferred) override;

    const std::string& pane() const { return pane_; }
    // When stderr is a terminal, walks the sources for the progress line's totals; otherwise
    // nothing is walked and no progress is ever shown.
    void countSources(const std::vector<std::filesystem::path>& sources);
    // Clears the progress line, when there is one, before the log is printed.
    void finishProgress();

    // Set from the SIGINT/SIGTERM handler; taken as a press of the stop button at the next yield.
    static volatile std::sig_atomic_t stopRequested;

private:
    fs::FileSystem& fs_;
    std::map<MenuOption, bool> options_;
    bool folderKeep_;
    std::string modeText_;
    std::string pathText_;
    std::string pane_;
    std::string caption_;
    bool cancelEnabled_ = false;
    const bool stderrIsTerminal_;
    std::optional<ProgressLine> progress_;
};

}  // namespace sorvin::cli
