// A scenario fixture for the engine and the run: a temporary tree with a source and a destination
// folder, a recording window, and the real file system behind a fault-injecting one.
#pragma once

#include <gtest/gtest.h>

#include <clocale>
#include <regex>
#include "engine/engine.h"
#include "fs/posix_fs.h"
#include "run/driver.h"
#include "support/fault_injecting_fs.h"
#include "support/recording_window.h"
#include "support/temp_tree.h"

namespace sorvin::test {

using Call = FaultInjectingFs::Call;

// Every HH:MM:SS time of day in `text` as "T".
inline std::string MaskTimes(const std::string& text) { return std::regex_replace(text, std::regex("[0-9]{2}:[0-9]{2}:[0-9]{2}"), "T"); }

inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines(1);
    for (const char c : text) c == '\n' ? lines.emplace_back() : lines.back() += c;
    return lines;
}

inline FaultInjectingFs::Match EndsWith(std::string suffix)
{
    return [suffix](const fs::Path& p) { return p.native().ends_with(suffix); };
}

class GatherTest : public ::testing::Test {
protected:
    GatherTest()
    {
        std::setlocale(LC_ALL, "C");  // times read 14:03:27
        CancelFlag = 0;
        tree.mkdir("in");
        window.path = tree.mkdir("out").native() + "/";
    }

    std::string dst() const { return tree.folder("out"); }
    std::string in(const std::string& rel) const { return (tree / "in" / rel).native(); }
    // The log lines after the start line, times written as "T".
    std::vector<std::string> logLines() const
    {
        auto lines = SplitLines(MaskTimes(run.logText()));
        if (!lines.empty() && lines.front().empty()) lines.erase(lines.begin());
        return lines;
    }
    // A new run after an earlier one in the same test: no stop, no messages, no faults.
    void restart() { CancelFlag = 0, run.start(), window.messages.clear(), fs.clearFaults(); }
    // Presses the stop button at the chosen yield.
    void stopAtYield(int n)
    {
        window.onYield = [this, n](int k) {
            if (k == n) run::CancelClick(run, window, fs);
        };
    }

    TempTree tree;
    sorvin::Run run;
    RecordingWindow window;
    fs::PosixFs posix;
    FaultInjectingFs fs {posix};
    Engine engine {run, window, fs};
};

}  // namespace sorvin::test
