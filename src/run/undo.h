// Taking back a run: the steps of the newest journal not yet taken back, undone in reverse order.
// A moved file goes back where it came from, a copy is removed, a file deleted as a duplicate is
// copied back from the file it was identical to, a removed folder is made again and a folder the
// run made is removed when empty. Nothing is ever replaced: a file that changed since the run
// (size or modification time), or a name taken again at the old place, is left and reported.
// A step found already undone (by an undo that a stop or a crash cut short, or one that never
// reached the disk) passes silently, so running the undo again finishes it.
#pragma once

#include "fs/file_system.h"
#include "shared/window.h"

namespace sorvin::run {

enum class UndoEnd {
    Nothing,   // no run to take back: one line says so
    AllBack,   // every step was taken back; the run counts as taken back
    SomeLeft,  // something was reported and left; the run can be taken back again
    Stopped,   // the stop button; the run can be taken back again
};

// Whether a run can be taken back.
bool RunToUndo();

// Takes back the newest run not yet taken back, its lines in the log pane as a run's are; with
// `dryRun`, only shows what it would do. `fs` must be one that keeps no journal.
UndoEnd RunUndo(Window& window, fs::FileSystem& fs, bool dryRun);

}  // namespace sorvin::run
