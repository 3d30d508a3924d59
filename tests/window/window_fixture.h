// A real window on the offscreen platform, in a temporary working folder (the settings file lives
// in the working folder), with its message boxes recorded instead of shown and a hook at every
// yield, where a test presses buttons in the middle of a run.
#pragma once

#include <QAbstractScrollArea>
#include <QMimeData>
#include <QString>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fs/posix_fs.h"
#include "support/temp_tree.h"
#include "window/frm_sorvin.h"

namespace sorvin::test {

class TestWindow : public window::FrmSorvin {
public:
    using FrmSorvin::FrmSorvin;

    struct Shown {
        QString text, title;
        QMessageBox::Icon icon;
    };
    std::vector<Shown> messages;
    std::function<void()> onYield;
    std::function<void(const std::string&)> onPaneText;

    void yield() override
    {
        if (onYield) onYield();
        FrmSorvin::yield();
    }
    void setPaneText(const std::string& text) override
    {
        FrmSorvin::setPaneText(text);
        if (onPaneText) onPaneText(text);
    }

protected:
    void showMessage(const QString& text, const QString& title, QMessageBox::Icon icon) override
    {
        messages.push_back({text, title, icon});
    }
};

class WindowTest : public ::testing::Test {
protected:
    WindowTest();
    ~WindowTest() override;

    // A new window, shown, reading the settings file of the temporary folder.
    TestWindow& open();

    template <class T = QWidget>
    T* child(const char* name)
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found) ADD_FAILURE() << "no control " << name;
        return found;
    }
    QAction* action(const char* name);

    // A text/uri-list of the paths' native bytes, as a file manager offers it.
    static std::unique_ptr<QMimeData> FileList(const std::vector<std::filesystem::path>& paths);
    // Whether the box takes the drag when it enters.
    bool takesDrag(const char* box, const QMimeData& data);
    // Drags and drops onto the box, then lets a run the drop starts go to its end.
    void drop(const char* box, const std::vector<std::filesystem::path>& paths);
    void settle();

    QString pane();
    std::string settingsFile() const;

    TempTree tree;
    fs::PosixFs fs;
    std::unique_ptr<TestWindow> window;

private:
    std::filesystem::path previousFolder_;
};

}  // namespace sorvin::test
