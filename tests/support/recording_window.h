// A window for tests: options are plain fields, and everything the engine shows is recorded.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shared/window.h"

namespace sorvin::test {

class RecordingWindow : public Window {
public:
    struct Message {
        std::string text;
        MessageTitle title;
        MessageIcon icon;
    };

    // Options.
    std::map<MenuOption, bool> options;
    bool keep = false;
    GatherMode gatherMode = GatherMode::Move;
    std::string path;

    // What was shown.
    std::vector<std::string> panes;
    std::vector<std::string> captions;
    std::vector<Message> messages;
    int yields = 0;
    int progressValue = 0, progressMax = 100;
    bool progressVisible = false, cancelEnabled = false, execEnabledState = false, menuEnabled = true;
    DropMode pathDropMode = DropMode::Take, paneDropMode = DropMode::Take;

    // Runs at every yield with the yield's number (1, 2, ...): a test presses buttons here.
    std::function<void(int)> onYield;

    void set(MenuOption option, bool on = true) { options[option] = on; }
    std::string pane() const { return panes.empty() ? std::string() : panes.back(); }
    std::vector<std::string> messageTexts() const;

    bool checked(MenuOption option) const override;
    bool folderKeep() const override { return keep; }
    GatherMode mode() const override { return gatherMode; }
    std::string pathText() const override { return path; }
    void setPaneText(const std::string& text) override { panes.push_back(text); }
    void setCaption(const std::string& text) override { captions.push_back(text); }
    std::string caption() const override { return captions.empty() ? std::string() : captions.back(); }
    void setProgressValue(int value) override { progressValue = value; }
    void setProgressMax(int max) override { progressMax = max; }
    void setProgressVisible(bool visible) override { progressVisible = visible; }
    void setCancelEnabled(bool enabled) override { cancelEnabled = enabled; }
    void setExecEnabled(bool enabled) override { execEnabledState = enabled; }
    bool execEnabled() const override { return execEnabledState; }
    void setDropMode(DropTarget target, DropMode mode) override { (target == DropTarget::Path ? pathDropMode : paneDropMode) = mode; }
    void setMenuEnabled(bool enabled) override { menuEnabled = enabled; }
    void message(const std::string& text, MessageTitle title, MessageIcon icon) override { messages.push_back({text, title, icon}); }
    void yield() override
    {
        ++yields;
        if (onYield) onYield(yields);
    }
};

}  // namespace sorvin::test
