// The line a terminal shows on stderr during a run: files and bytes done of all, the rate and the
// time left for the whole run, then the caption the window would show. It rewrites itself in
// place, at most ten times a second, and is cut to the terminal's width so it never wraps.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "fs/tree_size.h"

namespace sorvin::cli {

class ProgressLine {
public:
    using Clock = std::chrono::steady_clock;

    explicit ProgressLine(fs::TreeSize totals, Clock::time_point start = Clock::now());

    // The file before this one is done; `size` is the new file's, 0 when it could not be read.
    void fileStarted(std::uint64_t size);
    void fileCopied(std::uint64_t transferred) { currentCopied_ = transferred; }
    void setCaption(std::string caption) { caption_ = std::move(caption); }

    // Draws the line when the last drawing is at least a tenth of a second old.
    void update(Clock::time_point now = Clock::now());
    // Wipes the line, when one is shown, so that what is printed next starts on a clean line.
    void clear();

    // The line's text at `now`, cut to `columns` terminal cells.
    std::string text(Clock::time_point now, int columns) const;

private:
    fs::TreeSize totals_;
    Clock::time_point start_;
    std::uint64_t filesStarted_ = 0;
    std::uint64_t bytesDone_ = 0;      // of the files before the current one
    std::uint64_t currentSize_ = 0;
    std::uint64_t currentCopied_ = 0;
    std::string caption_;
    bool shown_ = false;
    Clock::time_point lastDrawn_{};
};

}  // namespace sorvin::cli
