// Drop intake and the run driver: what the window does when something is dropped on it and when
// its execute or stop button is pressed. The Qt window and the command-line front end both call
// these; neither gathers anything itself.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <optional>

#include "fs/file_system.h"
#include "shared/run.h"
#include "shared/window.h"

namespace sorvin::run {

enum class RunEnd { Finished, Stopped };

enum class DropOutcome {
    Ignored,   // the drop carried no paths
    Refused,   // no destination folder: "送り先フォルダが存在しません" was shown
    Prepared,  // the execute-button option holds the run until 実行 is pressed
    Finished,  // the run ran and ended normally
    Stopped,   // the run ran and took the stopped ending
};

// One pass over the run's DropList with the mode and destination read from the window for every item.
RunEnd RunGather(Run& run, Window& window, fs::FileSystem& fs);

// A drop on the log pane: records the sources and runs them, or prepares the run.
DropOutcome SourceDrop(Run& run, Window& window, fs::FileSystem& fs,
                       const std::vector<std::filesystem::path>& dropped);

// A drop on the destination box, whose first path counts: that folder with a trailing "/", or
// nothing when it names no folder.
std::optional<std::string> DestinationDrop(fs::FileSystem& fs, const std::filesystem::path& first);

// A path named on a command line as a file manager's drop gives it: absolute, no "." or "..",
// no trailing "/", links left as they are. An empty name stays empty.
std::filesystem::path DroppedPath(const std::string& arg);

// The execute button, pressed while a run is prepared.
RunEnd ExecuteClick(Run& run, Window& window, fs::FileSystem& fs);

// The stop button: asks a running run to stop (it does at its next check), or ends a prepared one
// without touching anything.
void CancelClick(Run& run, Window& window, fs::FileSystem& fs);

}  // namespace sorvin::run
