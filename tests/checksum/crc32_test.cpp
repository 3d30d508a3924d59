// Files read through with their progress and the stop flag: the checksum and the byte compare.
#include <gtest/gtest.h>

#include "checksum/compare.h"
#include "checksum/crc32.h"
#include "fs/posix_fs.h"
#include "support/at.h"
#include "support/temp_tree.h"

namespace sorvin::test {
namespace {

TEST(ChecksumTest, FoldsWholeFilesReportsEveryMebibyteAndStopsAtAReport)
{
    TempTree tree;
    fs::PosixFs fs;
    std::atomic<std::int32_t> stop {0};
    std::vector<std::uint64_t> offsets;
    std::uint64_t stopAt = 2097152;
    const CheckProgress progress = [&](std::uint64_t offset, std::uint64_t length) {
        EXPECT_EQ(length, 3145729u);
        offsets.push_back(offset);
        if (offset == stopAt) stop = 1;
    };
    const std::string big = Bytes(3145729, 5);
    const auto at = [&](const char* name, const std::string& bytes) { return At(fs, tree.write(name, bytes)); };
    EXPECT_EQ(FileCRC32(fs, at("digits", "123456789"), progress, stop), 0xCBF43926u);  // the published check value
    EXPECT_EQ(FileCRC32(fs, at("big", big), progress, stop), std::nullopt);
    EXPECT_EQ(offsets, (std::vector<std::uint64_t> {1048576, 2097152}));
    stop = 0;
    stopAt = 0;
    EXPECT_EQ(FileCRC32(fs, at("big", big), progress, stop), Crc32Update(Crc32Update(0, big.data(), 5), big.data() + 5, big.size() - 5));
    EXPECT_EQ(CompareFiles(fs, at("big", big), at("big2", big), big.size(), progress, stop), Comparison::Same);
    EXPECT_EQ(CompareFiles(fs, at("big", big), at("big2", big.substr(0, 3145728) + "x"), big.size(), progress, stop), Comparison::Different);
    stopAt = 1048576;
    EXPECT_EQ(CompareFiles(fs, at("big", big), at("big2", big), big.size(), progress, stop), Comparison::Stopped);
}

}  // namespace
}  // namespace sorvin::test
