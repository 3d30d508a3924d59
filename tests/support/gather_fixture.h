// A scenario fixture for the engine and the run: a temporary tree with a source and a destination
// folder, a recording window, and the real file system behind a fault-injecting one.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "fs/posix_fs.h"
#include "support/fault_injecting_fs.h"
#include "support/recording_window.h"
#include "support/temp_tree.h"

namespace sorvin::test {

using Call = FaultInjectingFs::Call;

class GatherTest : public ::testing::Test {
protected:
    GatherTest();

    // The destination folder with its trailing "/".
    std::string dst() const { return tree.folder("out"); }
    std::string in(const std::string& rel) const { return (tree / "in" / rel).native(); }
    // The log lines after the start line, with every time of day written as "T".
    std::vector<std::string> logLines() const;
    // Presses the stop button at the chosen yield.
    void stopAtYield(int n);

    TempTree tree;
    sorvin::Run run;
    RecordingWindow window;
    fs::PosixFs posix;
    FaultInjectingFs fs {posix};
    Engine engine {run, window, fs};
};

// Every HH:MM:SS time of day in `text` as "T".
std::string MaskTimes(const std::string& text);
// The lines of a log or a pane text (the name is older than the log's "\n" line ends).
std::vector<std::string> SplitCrLf(const std::string& text);
// Matches a path that ends with `suffix`.
FaultInjectingFs::Match EndsWith(std::string suffix);

}  // namespace sorvin::test
