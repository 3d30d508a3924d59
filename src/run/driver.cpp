// The run-control states: Idle (drops taken, both buttons off), Prepared (sources recorded, the
// execute button waits) and Running (the stop button on, the progress bar shown). A source drop
// leads from Idle to Prepared or straight through Running back to Idle; the execute button from
// Prepared to Running; the stop button from Prepared to Idle, or asks a running run to stop.
#include "run/driver.h"

#include <optional>

#include "engine/engine.h"
#include "engine/naming.h"
#include "fs/names.h"
#include "run/preview.h"
#include "shared/text.h"

namespace sorvin::run {

namespace {

RunEnd StoppedEnding(Run& run, Window& window, const std::string& runCaption)
{
    run.stopped();  // a stop asked for and not yet taken ends the log's line too
    window.setProgressVisible(false);
    window.setCancelEnabled(false);
    CancelFlag = 0;
    window.setPaneText(run.logText() + "…処理中止");
    window.setCaption(runCaption + "停" + TimeText());
    return RunEnd::Stopped;
}

void BackToIdle(Window& window)
{
    window.setDropMode(DropTarget::Path, DropMode::Take);
    window.setDropMode(DropTarget::Pane, DropMode::Take);
    window.setMenuEnabled(true);
}

// The folder the destination box names, with the trailing "/" that a drop puts there and typed or
// pasted text may lack, so a folder's name is never glued to a file's. Only an absolute path on one
// line names a folder: relative text would depend on where the program happened to start.
std::optional<std::string> DestinationFolder(const std::string& text)
{
    if (!text.starts_with('/') || text.find_first_of("\r\n") != std::string::npos) return std::nullopt;
    return fs::WithTrailingSlash(text);
}

void NoDestination(Window& window)
{
    window.message("送り先フォルダが存在しません", MessageTitle::Application, MessageIcon::None);
}

bool IsFile(fs::FileSystem& fs, const Path& item)
{
    // Anything that is not a real directory is a file, a link included; what is no longer there
    // goes the folder way, where its absence is reported.
    try {
        const fs::FolderPtr folder = fs.openPath(fs::ParentFolderName(item.native()));
        return fs.entryType({*folder, fs::FileName(item.native())}) == fs::EntryType::File;
    } catch (const fs::FsError&) {
        return false;
    }
}

}  // namespace

RunEnd RunGather(Run& run, Window& window, fs::FileSystem& fs)
{
    window.setPaneText("");
    run.start();
    const std::string start = TimeText();
    window.setCancelEnabled(true);
    window.setCaption(std::string(kWindowCaption) + "...始" + start);
    const std::string runCaption = window.caption();
    window.setProgressValue(0);
    window.setProgressMax(static_cast<int>(run.DropList.size()));
    window.setProgressVisible(true);
    run.NameTable.reset();
    run.RunPicture.reset();

    // A prepared run ended by the stop button; a stop only asked for is taken inside the run.
    if (CancelFlag.load() & kStopping) return StoppedEnding(run, window, runCaption);

    window.setPaneText("処理開始..." + TimeText());
    run.LogBuffer = "処理開始..." + TimeText();

    Engine engine(run, window, fs);
    Path swept;  // the destination whose leftovers of killed copies are gone
    for (std::size_t i = 0; i < run.DropList.size(); ++i) {
        window.setProgressValue(static_cast<int>(i + 1));
        const Path item = run.DropList[i];
        const bool file = IsFile(fs, item);
        const bool move = window.mode() == GatherMode::Move;
        // Read for every item, by the rule the source drop checked it with.
        const auto folder = DestinationFolder(window.pathText());
        if (!folder) {
            NoDestination(window);
            return StoppedEnding(run, window, runCaption);
        }
        const Path destination = *folder;
        if (destination != swept) {
            swept = destination;
            try {
                fs.removeLeftovers(*fs.openPath(destination));
            } catch (const fs::FsError&) {
                // A destination that cannot be opened is the operation's to report.
            }
        }
        if (file)
            move ? engine.FileMove2(item, destination) : engine.FileCopy2(item, destination);
        else
            move ? engine.FolderMove2(item, destination) : engine.FolderCopy2(item, destination);
        if (run.stopped()) {
            engine.closeBatch();
            return StoppedEnding(run, window, runCaption);
        }
    }
    // Its failures stop the run like any file's.
    engine.closeBatch();
    if (run.stopped()) return StoppedEnding(run, window, runCaption);

    window.setProgressVisible(false);
    window.setCancelEnabled(false);
    window.setDropMode(DropTarget::Path, DropMode::Take);
    window.setPaneText(run.LogBuffer + "\n処理終了..." + TimeText());
    window.setCaption(runCaption + "停" + TimeText());
    return RunEnd::Finished;
}

DropOutcome SourceDrop(Run& run, Window& window, fs::FileSystem& fs, const std::vector<Path>& dropped)
{
    if (dropped.empty()) return DropOutcome::Ignored;
    bool destinationThere = false;
    try {
        const auto folder = DestinationFolder(window.pathText());
        destinationThere = folder && fs.folderExists(*folder);
    } catch (const fs::FsError&) {
    }
    if (!destinationThere) {
        NoDestination(window);
        return DropOutcome::Refused;
    }

    window.setDropMode(DropTarget::Path, DropMode::Refuse);
    window.setDropMode(DropTarget::Pane, DropMode::Refuse);
    window.setCancelEnabled(true);
    window.setMenuEnabled(false);
    window.setPaneText("");

    run.DropList = dropped;
    window.setProgressMax(static_cast<int>(run.DropList.size()));

    const bool preview = window.checked(MenuOption::Preview);
    if (window.checked(MenuOption::ExecButton) || preview) {
        std::string shown = "実行準備完了\n実行ボタンを押してください";
        if (preview) {
            const Preview seen = PreviewRun(run, window, fs);
            if (seen.stopPressed) {
                // The stop button pressed while the preview was made drops the run.
                window.setCancelEnabled(false);
                window.setPaneText(seen.pane);
                BackToIdle(window);
                return DropOutcome::Stopped;
            }
            shown += "\n" + seen.pane;
        }
        window.setExecEnabled(true);
        window.setPaneText(shown);
        return DropOutcome::Prepared;
    }
    const RunEnd end = RunGather(run, window, fs);
    BackToIdle(window);
    return end == RunEnd::Finished ? DropOutcome::Finished : DropOutcome::Stopped;
}

std::optional<std::string> DestinationDrop(fs::FileSystem& fs, const Path& first)
{
    try {
        if (fs.folderExists(first)) return fs::WithTrailingSlash(first.native());
    } catch (const fs::FsError&) {
    }
    return std::nullopt;
}

Path DroppedPath(const std::string& arg)
{
    if (arg.empty()) return {};  // names nothing, as no drop can: the callers report it
    std::string s = std::filesystem::absolute(arg).lexically_normal().native();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

RunEnd ExecuteClick(Run& run, Window& window, fs::FileSystem& fs)
{
    window.setExecEnabled(false);
    const RunEnd end = RunGather(run, window, fs);
    BackToIdle(window);
    return end;
}

void CancelClick(Run& run, Window& window, fs::FileSystem& fs)
{
    window.setCancelEnabled(false);
    if (!window.execEnabled()) {
        AskStop();  // the running run takes it at its next check
        return;
    }
    window.setExecEnabled(false);
    run.stop();
    RunGather(run, window, fs);
    BackToIdle(window);
}

}  // namespace sorvin::run
