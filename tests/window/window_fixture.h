// A real window on the offscreen platform, in a temporary working folder (where the settings file
// lives), with its message boxes recorded instead of shown and a hook at every yield, where a test
// presses buttons in the middle of a run.
#pragma once

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

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
    WindowTest() { std::filesystem::current_path(tree.root()); }
    ~WindowTest() override
    {
        window.reset();
        std::filesystem::current_path(previousFolder_);
    }

    // A new window, shown, reading the settings file of the temporary folder.
    TestWindow& open()
    {
        window = std::make_unique<TestWindow>(fs);
        window->show();
        return *window;
    }
    template <class T = QWidget>
    T* child(const char* name)
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found) ADD_FAILURE() << "no control " << name;
        return found;
    }
    QAction* action(const char* name) { return child<QAction>(name); }
    QString text(const char* box) { return child<QPlainTextEdit>(box)->toPlainText(); }

    // A text/uri-list of the paths' native bytes, as a file manager offers it.
    static std::unique_ptr<QMimeData> FileList(const std::vector<std::filesystem::path>& paths)
    {
        QByteArray list;
        for (const auto& p : paths)
            list += "file://" + QByteArray::fromStdString(p.native()).toPercentEncoding("/") + "\r\n";
        auto data = std::make_unique<QMimeData>();
        data->setData(QStringLiteral("text/uri-list"), list);
        return data;
    }
    // Whether the box takes the drag when it enters.
    bool takesDrag(const char* box, const QMimeData& data)
    {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(child<QAbstractScrollArea>(box)->viewport(), &enter);
        return enter.isAccepted() && enter.dropAction() == Qt::CopyAction;
    }
    // Drags and drops onto the box, then lets a run the drop starts go to its end.
    void drop(const char* box, const std::vector<std::filesystem::path>& paths)
    {
        auto data = FileList(paths);
        if (takesDrag(box, *data)) {
            QDropEvent event(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, data.get(), Qt::LeftButton, {});
            QCoreApplication::sendEvent(child<QAbstractScrollArea>(box)->viewport(), &event);
        }
        settle();
    }
    static void settle() { for (int i = 0; i < 3; ++i) QCoreApplication::processEvents(); }
    std::string settingsFile() const { return ReadFile(tree / "sorvin.ini"); }

    TempTree tree;
    fs::PosixFs fs;
    std::unique_ptr<TestWindow> window;

private:
    std::filesystem::path previousFolder_ = std::filesystem::current_path();
};

}  // namespace sorvin::test
