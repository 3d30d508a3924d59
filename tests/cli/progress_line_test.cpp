// The terminal's progress line: what it counts, and how it fits a line of the terminal.
#include "cli/progress_line.h"

#include <gtest/gtest.h>

namespace sorvin::cli {
namespace {

TEST(ProgressLineTest, CountsFinishedFilesAndCutsWideTextToTheTerminal)
{
    const ProgressLine::Clock::time_point start {};
    ProgressLine line({.files = 3, .bytes = 3000}, start);
    EXPECT_EQ(line.text(start, 200).substr(0, 10), "0/3 files ");
    line.fileStarted(1000);
    EXPECT_EQ(line.text(start, 200).substr(0, 10), "0/3 files ");
    line.fileStarted(1000);
    const std::string prefix = line.text(start, 1000);
    EXPECT_EQ(prefix.substr(0, 10), "1/3 files ");

    // Full-width forms take two cells, a line break shows as "?", and the last cell stays free.
    line.setCaption("Ａ︰\nb");
    const auto columns = static_cast<int>(prefix.size()) + 1;
    EXPECT_EQ(line.text(start, columns + 4), prefix + "Ａ︰");
    EXPECT_EQ(line.text(start, columns + 6), prefix + "Ａ︰?b");
}

}  // namespace
}  // namespace sorvin::cli
