#include "fs/block_reader.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>

#include "fs/posix_fs.h"
#include "support/at.h"
#include "support/fault_injecting_fs.h"
#include "support/temp_tree.h"

namespace sorvin::test {
namespace {

constexpr std::size_t kBlock = 64 * 1024;

class BlockReaderTest : public ::testing::Test {
protected:
    // Everything the reader gives, page-aligned; reading ahead from block `aheadFrom` on, or mapping
    // the rest from block `mapFrom` on (-1: never).
    std::string drain(std::uint64_t length, int aheadFrom, int mapFrom = -1)
    {
        fs::BlockReader blocks(fs.openRead(At(fs, path)), length, kBlock);
        std::string got;
        for (int k = 0;; ++k) {
            if (k == aheadFrom) blocks.readAhead();
            if (k == mapFrom) blocks.mapRest();
            const auto block = blocks.next();
            if (block.empty()) break;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % 4096, 0u);
            EXPECT_EQ(blocks.mapping(), mapFrom >= 0 && k >= mapFrom);
            blocks.touch([&] { got.append(reinterpret_cast<const char*>(block.data()), block.size()); });
        }
        EXPECT_TRUE(blocks.next().empty());
        return got;
    }

    TempTree tree;
    fs::PosixFs posix;
    FaultInjectingFs fs{posix};
    fs::Path path;
};

TEST_F(BlockReaderTest, GivesTheBytesInOrderUpToTheLengthReadAheadOrMapped)
{
    const std::string data = Bytes(17 * 1024 * 1024 + 5);  // three mappings, the last one short
    path = tree.write("f", data);
    // The file grew since (a shorter length) or shrank since (a longer one).
    for (const std::uint64_t length : {data.size(), std::uint64_t{9} << 20, data.size() + kBlock}) {
        SCOPED_TRACE(length);
        for (int aheadFrom : {-1, 0, 3}) EXPECT_TRUE(drain(length, aheadFrom) == data.substr(0, length));
        EXPECT_TRUE(drain(length, -1, 4) == data.substr(0, length));
    }
}

TEST_F(BlockReaderTest, AFailedReadFailsInOrderAndAVanishedPageFails)
{
    path = tree.write("f", Bytes(16 * kBlock));
    fs.failOn(FaultInjectingFs::Call::Read, EIO, {}, 5);
    fs::BlockReader failing(fs.openRead(At(fs, path)), 16 * kBlock, kBlock);
    for (int k = 0; k < 5; ++k) {
        if (k == 2) failing.readAhead();
        EXPECT_EQ(failing.next().size(), kBlock) << k;
    }
    EXPECT_THROW(failing.next(), fs::FsError);
    fs::BlockReader blocks(fs.openRead(At(fs, path)), 16 * kBlock, kBlock);
    blocks.mapRest();
    const auto block = blocks.next();
    ASSERT_TRUE(blocks.mapping());
    std::filesystem::resize_file(path, 0);  // another program truncates the file under the mapping
    unsigned sum = 0;
    int err = 0;
    try { blocks.touch([&] { sum += block[block.size() - 1]; }); } catch (const fs::FsError& e) { err = e.error(); }
    EXPECT_TRUE(err == EIO && sum == 0u);
}

}  // namespace
}  // namespace sorvin::test
