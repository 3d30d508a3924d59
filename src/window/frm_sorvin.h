// The program's one window. It owns the controls and the settings file; everything a drop or a
// button sets off is done by the run driver through the Window interface, which this class
// implements by reading and writing its controls.
#pragma once

#include <QElapsedTimer>
#include <QMessageBox>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"
#include "run/journal.h"
#include "shared/run.h"
#include "shared/window.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;

namespace sorvin::window {

class DropBox;
struct Settings;

class FrmSorvin : public QWidget, public Window {
    Q_OBJECT

public:
    // Runs keep their journal through a layer over `fs`; the undo works on `fs` itself.
    explicit FrmSorvin(fs::FileSystem& fs, QWidget* parent = nullptr);
    ~FrmSorvin() override;

    // True from a source drop or a press of 実行 until the run it started has ended.
    bool running() const { return running_; }
    // A drop on the destination box, as the start-up folder argument also makes one.
    void destinationDropped(const std::vector<std::filesystem::path>& paths);

    bool checked(MenuOption option) const override;
    bool folderKeep() const override;
    GatherMode mode() const override;
    std::string pathText() const override;

    void setPaneText(const std::string& text) override;
    void setCaption(const std::string& text) override;
    std::string caption() const override;
    void setProgressValue(int value) override;
    void setProgressMax(int max) override;
    void setProgressVisible(bool visible) override;
    void setCancelEnabled(bool enabled) override;
    void setExecEnabled(bool enabled) override;
    bool execEnabled() const override;
    void setDropMode(DropTarget target, DropMode mode) override;
    void setMenuEnabled(bool enabled) override;
    void message(const std::string& text, MessageTitle title, MessageIcon icon) override;
    void yield() override;

protected:
    // A modal box with only an OK button. Tests replace it so that nothing waits for a click.
    virtual void showMessage(const QString& text, const QString& title, QMessageBox::Icon icon);

    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void buildMenu();
    void layOut();
    void applySettings(const Settings& settings);
    Settings currentSettings() const;
    void saveSettings();

    void sourcesDropped(const std::vector<std::filesystem::path>& paths);
    void execClicked();
    void cancelClicked();
    void undoClicked();
    // Runs `run` as a run: texts drawn at most ten times a second meanwhile, the last ones at its end.
    void duringRun(const std::function<void()>& run);
    void afterRun();
    void showPending(bool now);
    // The execute button is there for either option that holds a run until it is pressed.
    void showExecButton();
    // While a preview is shown, what would change the run it shows is locked.
    void lockForPreview(bool locked);

    fs::FileSystem& disk_;
    run::JournalingFs fs_;
    bool journalFailed_ = false;  // the last run kept no journal: it cannot be taken back
    Run run_;

    QLabel* lblTo = nullptr;
    DropBox* txtPath = nullptr;
    QLabel* lblFiles1 = nullptr;
    QComboBox* cmbMorC = nullptr;
    QLabel* lblFiles2 = nullptr;
    DropBox* rtfSorvinfile = nullptr;
    QPushButton* cmdEXEC = nullptr;
    QPushButton* cmdCancel = nullptr;
    QCheckBox* chkFolderKeep = nullptr;
    QProgressBar* prgbShinkou = nullptr;

    QMenu* mnuPopup = nullptr;
    QAction* mnuEB = nullptr;
    QAction* mnuNumPosition = nullptr;
    QAction* mnuCRC32 = nullptr;
    QAction* mnuGenmitsu = nullptr;
    QAction* mnuErrMushi = nullptr;
    QAction* mnuPreview = nullptr;
    QAction* mnuUndo = nullptr;

    // txtPath shows native bytes as text; these are the bytes behind what it shows, so a name that
    // is not UTF-8 reaches the run unchanged.
    std::string pathBytes_;
    QString pathShown_;

    // What the engine last asked the pane and the caption to show, until it is drawn.
    std::string captionText_;
    std::optional<std::string> pendingPane_;
    bool captionPending_ = false;
    QElapsedTimer lastShown_;

    bool running_ = false;
    bool sourceDropQueued_ = false;
    bool closeWhenStopped_ = false;
    bool closed_ = false;
};

}  // namespace sorvin::window
