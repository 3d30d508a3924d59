// How much a drop holds: its files and their bytes, found by walking the dropped folders through
// the file-system layer. A progress display takes its totals from it before a run starts.
#pragma once

#include <cstdint>
#include <vector>

#include "fs/file_system.h"

namespace sorvin::fs {

struct TreeSize {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

// Every file under each path, a path that is a file counting itself; links are files of their own
// size, never followed. What cannot be looked at counts as nothing: a total is an estimate and
// never stops a run.
TreeSize MeasureTrees(FileSystem& fs, const std::vector<Path>& paths);

}  // namespace sorvin::fs
