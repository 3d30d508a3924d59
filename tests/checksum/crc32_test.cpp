#include "checksum/crc32.h"

#include "checksum/compare.h"
#include "support/at.h"
#include "support/temp_tree.h"
#include "fs/posix_fs.h"

#include <gtest/gtest.h>

namespace sorvin::test {
namespace {

// One scenario: files read through with their progress and the stop flag.
TEST(ChecksumTest, FoldsWholeFilesReportsEveryMebibyteAndStopsAtAReport)
{
    EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);  // the published check value
    EXPECT_EQ(Crc32Update(Crc32Update(0, "1234", 4), "56789", 5), 0xCBF43926u);

    TempTree tree;
    fs::PosixFs fs;
    std::atomic<std::int32_t> stop {0};
    std::vector<std::uint64_t> offsets;
    std::uint64_t stopAt = 2097152;
    const CheckProgress progress = [&](std::uint64_t offset, std::uint64_t length) {
        offsets.push_back(offset);
        EXPECT_EQ(length, 3145729u);
        if (offset == stopAt) stop = 1;
    };
    tree.write("digits", "123456789");
    tree.write("empty", "");
    tree.write("big", Bytes(3145729, 5));
    tree.write("big2", Bytes(3145729, 5));
    EXPECT_EQ(FileCRC32(fs, At(fs, tree / "digits"), progress, stop), 0xCBF43926u);
    EXPECT_EQ(FileCRC32(fs, At(fs, tree / "empty"), progress, stop), 0u);
    EXPECT_TRUE(offsets.empty());
    const std::string big = Bytes(3145729, 5);
    EXPECT_EQ(FileCRC32(fs, At(fs, tree / "big"), progress, stop), std::nullopt);
    EXPECT_EQ(offsets, (std::vector<std::uint64_t> {1048576, 2097152}));
    stop = 0;
    stopAt = 0;
    EXPECT_EQ(FileCRC32(fs, At(fs, tree / "big"), progress, stop), Crc32Update(0, big.data(), big.size()));
    EXPECT_EQ(offsets.size(), 5u);

    // The compare: the same bytes, one byte changed, a stop.
    EXPECT_EQ(CompareFiles(fs, At(fs, tree / "big"), At(fs, tree / "big2"), 3145729, progress, stop), Comparison::Same);
    tree.write("big2", big.substr(0, 3145728) + "x");
    EXPECT_EQ(CompareFiles(fs, At(fs, tree / "big"), At(fs, tree / "big2"), 3145729, progress, stop), Comparison::Different);
    EXPECT_EQ(CompareFiles(fs, At(fs, tree / "big"), At(fs, tree / "digits"), 3145729, progress, stop), Comparison::Different);
    stopAt = 1048576;
    EXPECT_EQ(CompareFiles(fs, At(fs, tree / "big"), At(fs, tree / "big"), 3145729, progress, stop), Comparison::Stopped);
}

}  // namespace
}  // namespace sorvin::test
