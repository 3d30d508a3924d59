#include "run/preview.h"

#include "fs/preview_fs.h"
#include "shared/run.h"

namespace sorvin::run {

namespace {

// The window as the previewed run sees it: the real window's options and boxes, whose stop button
// it takes at every yield, and a log pane and caption of its own. The run's message boxes are left
// out: the run itself shows them when it meets them, and the preview's log ends where it stops.
class PreviewWindow final : public Window {
public:
    explicit PreviewWindow(Window& real) : real_(real) {}

    bool checked(MenuOption option) const override { return real_.checked(option); }
    bool folderKeep() const override { return real_.folderKeep(); }
    GatherMode mode() const override { return real_.mode(); }
    std::string pathText() const override { return real_.pathText(); }

    void setPaneText(const std::string& text) override { pane = text; }
    void setCaption(const std::string& text) override { caption_ = text; }
    std::string caption() const override { return caption_; }
    void setProgressValue(int) override {}
    void setProgressMax(int) override {}
    void setProgressVisible(bool) override {}
    void setCancelEnabled(bool) override {}
    void setExecEnabled(bool) override {}
    bool execEnabled() const override { return false; }
    void setDropMode(DropTarget, DropMode) override {}
    void setMenuEnabled(bool) override {}
    void message(const std::string&, MessageTitle, MessageIcon) override {}
    // A stop the run's own failures ask for is part of what the preview shows; only the stop
    // button, taken here, drops the run.
    void yield() override
    {
        const bool stopAsked = CancelFlag.load() & kStopAsked;
        real_.yield();
        if (!stopAsked && (CancelFlag.load() & kStopAsked)) stopPressed = true;
    }

    std::string pane;
    bool stopPressed = false;

private:
    Window& real_;
    std::string caption_;
};

}  // namespace

Preview PreviewRun(const Run& run, Window& window, fs::FileSystem& fs)
{
    fs::PreviewFs preview(fs);
    PreviewWindow shown(window);
    Run previewed;
    previewed.DropList = run.DropList;
    RunGather(previewed, shown, preview);
    return {shown.pane, shown.stopPressed};
}

}  // namespace sorvin::run
