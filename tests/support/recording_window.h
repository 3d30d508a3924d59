// A window for tests: options are plain fields, and what the engine shows is recorded.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "shared/window.h"

namespace sorvin::test {

class RecordingWindow : public Window {
public:
    struct Message { std::string text; MessageTitle title; };

    std::map<MenuOption, bool> options;
    bool keep = false;
    GatherMode gatherMode = GatherMode::Move;
    std::string path;

    std::vector<std::string> panes;
    std::string captionText;
    std::vector<Message> messages;
    int yields = 0;
    bool progressVisible = false, cancelEnabled = false, execEnabledState = false, menuEnabled = true;
    DropMode pathDropMode = DropMode::Take, paneDropMode = DropMode::Take;
    std::function<void(int)> onYield;  // runs at every yield with its number (1, 2, ...): a test presses buttons here

    void set(MenuOption option, bool on = true) { options[option] = on; }
    std::string pane() const { return panes.empty() ? std::string() : panes.back(); }
    std::vector<std::string> messageTexts() const
    {
        std::vector<std::string> texts;
        for (const auto& m : messages) texts.push_back(m.text);
        return texts;
    }

    bool checked(MenuOption option) const override { return options.contains(option) && options.at(option); }
    bool folderKeep() const override { return keep; }
    GatherMode mode() const override { return gatherMode; }
    std::string pathText() const override { return path; }
    void setPaneText(const std::string& text) override { panes.push_back(text); }
    void setCaption(const std::string& text) override { captionText = text; }
    std::string caption() const override { return captionText; }
    void setProgressValue(int) override {}
    void setProgressMax(int) override {}
    void setProgressVisible(bool visible) override { progressVisible = visible; }
    void setCancelEnabled(bool enabled) override { cancelEnabled = enabled; }
    void setExecEnabled(bool enabled) override { execEnabledState = enabled; }
    bool execEnabled() const override { return execEnabledState; }
    void setDropMode(DropTarget target, DropMode mode) override { (target == DropTarget::Path ? pathDropMode : paneDropMode) = mode; }
    void setMenuEnabled(bool enabled) override { menuEnabled = enabled; }
    void message(const std::string& text, MessageTitle title, MessageIcon) override { messages.push_back({text, title}); }
    void yield() override { if (onYield) onYield(++yields); }
    void fileStarted(const fs::Entry& file) override { started.emplace_back(file.name); }

    std::vector<std::string> started;  // the names of the files the engine began, in order
};

}  // namespace sorvin::test
