// The window's look before a run: the prepared run made over a file system that only records its
// writes (fs::PreviewFs), so its log shows what the run will do while nothing on the disk changes.
#pragma once

#include <string>

#include "fs/file_system.h"
#include "run/driver.h"
#include "shared/window.h"

namespace sorvin::run {

struct Preview {
    std::string pane;          // the log pane as the run would leave it, closing line included
    bool stopPressed = false;  // the stop button was pressed while the preview was made
};

// Runs the run's DropList with the window's options and boxes over `fs` without writing to it, as
// a run of its own: `run` keeps its log. The window's stop button is taken at every yield; nothing
// else of the window changes.
Preview PreviewRun(const Run& run, Window& window, fs::FileSystem& fs);

}  // namespace sorvin::run
