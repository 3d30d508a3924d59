// The run-control states: Idle (drops taken, both buttons off), Prepared (sources recorded, the
// execute button waits) and Running (the stop button on, the progress bar shown). A source drop
// leads from Idle to Prepared or straight through Running back to Idle; the execute button from
// Prepared to Running; the stop button from Prepared to Idle, or asks a running run to stop.
#include "run/driver.h"

#include <optional>

#include "engine/engine.h"
#include "engine/naming.h"
#include "fs/names.h"
#include "shared/state.h"
#include "shared/text.h"

namespace sorvin::run {

namespace {

constexpr std::string_view kMoveMode = "移動";

RunEnd StoppedEnding(Window& window, const std::string& runCaption)
{
    window.setProgressVisible(false);
    window.setCancelEnabled(false);
    CancelFlag = 0;
    window.setPaneText(LogBuffer + "…処理中止");
    window.setCaption(runCaption + "停" + TimeText());
    return RunEnd::Stopped;
}

void BackToIdle(Window& window)
{
    window.setDropMode(DropTarget::Path, 1);
    window.setDropMode(DropTarget::Pane, 1);
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

RunEnd RunGather(Window& window, fs::FileSystem& fs)
{
    window.setPaneText("");
    LogBuffer.clear();
    const std::string start = TimeText();
    window.setCancelEnabled(true);
    window.setCaption(std::string(kWindowCaption) + "...始" + start);
    const std::string runCaption = window.caption();
    window.setProgressValue(0);
    window.setProgressMax(DropCount);
    window.setProgressVisible(true);
    NameTable.reset();
    RunPicture.reset();

    if (CancelFlag == 1) return StoppedEnding(window, runCaption);

    window.setPaneText("処理開始..." + TimeText());
    LogBuffer = "処理開始..." + TimeText();

    Engine engine(window, fs);
    for (std::int32_t i = 1; i <= DropCount; ++i) {
        window.setProgressValue(i);
        const Path item = DropList[static_cast<std::size_t>(i)];
        const bool file = IsFile(fs, item);
        const bool move = window.modeText() == kMoveMode;
        // Read for every item, by the rule the source drop checked it with.
        const auto folder = DestinationFolder(window.pathText());
        if (!folder) {
            NoDestination(window);
            return StoppedEnding(window, runCaption);
        }
        const Path destination = *folder;
        if (file)
            move ? engine.FileMove2(item, destination) : engine.FileCopy2(item, destination);
        else
            move ? engine.FolderMove2(item, destination) : engine.FolderCopy2(item, destination);
        if (CancelFlag == 1) {
            engine.closeBatch();
            return StoppedEnding(window, runCaption);
        }
    }
    // Its failures stop the run like any file's.
    engine.closeBatch();
    if (CancelFlag == 1) return StoppedEnding(window, runCaption);

    window.setProgressVisible(false);
    window.setCancelEnabled(false);
    window.setDropMode(DropTarget::Path, 1);
    window.setPaneText(LogBuffer + std::string(kCrLf) + "処理終了..." + TimeText());
    window.setCaption(runCaption + "停" + TimeText());
    return RunEnd::Finished;
}

DropOutcome SourceDrop(Window& window, fs::FileSystem& fs, const std::vector<Path>& dropped)
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

    window.setDropMode(DropTarget::Path, 0);
    window.setDropMode(DropTarget::Pane, 0);
    window.setCancelEnabled(true);
    window.setMenuEnabled(false);
    window.setPaneText("");

    DropCount = static_cast<std::int32_t>(dropped.size());
    window.setProgressMax(DropCount);
    DropList.assign(1, Path());
    DropList.insert(DropList.end(), dropped.begin(), dropped.end());

    if (window.checked(MenuOption::ExecButton)) {
        window.setExecEnabled(true);
        window.setPaneText("実行準備完了" + std::string(kCrLf) + "実行ボタンを押してください");
        return DropOutcome::Prepared;
    }
    const RunEnd end = RunGather(window, fs);
    BackToIdle(window);
    return end == RunEnd::Finished ? DropOutcome::Finished : DropOutcome::Stopped;
}

void DestinationDrop(Window& window, fs::FileSystem& fs, const std::vector<Path>& dropped)
{
    if (dropped.empty()) return;
    const Path& first = dropped.front();
    bool folder = false;
    try {
        folder = fs.folderExists(first);
    } catch (const fs::FsError&) {
    }
    window.setPathText(folder ? fs::WithTrailingSlash(first.native()) : std::string("指定されたフォルダは存在しません"));
}

Path DroppedPath(const std::string& arg)
{
    if (arg.empty()) return {};  // names nothing, as no drop can: the callers report it
    std::string s = std::filesystem::absolute(arg).lexically_normal().native();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

RunEnd ExecuteClick(Window& window, fs::FileSystem& fs)
{
    window.setExecEnabled(false);
    const RunEnd end = RunGather(window, fs);
    BackToIdle(window);
    return end;
}

void CancelClick(Window& window, fs::FileSystem& fs)
{
    CancelFlag = 1;
    LogBuffer += kCrLf;
    window.setCancelEnabled(false);
    if (window.execEnabled()) {
        window.setExecEnabled(false);
        RunGather(window, fs);
        BackToIdle(window);
    }
}

}  // namespace sorvin::run
