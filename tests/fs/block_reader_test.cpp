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

using Call = FaultInjectingFs::Call;
constexpr std::size_t kBlock = 64 * 1024;

class BlockReaderTest : public ::testing::Test {
protected:
    // Everything `blocks` gives; reading ahead from block `aheadFrom` on (-1: never).
    static std::string Drain(fs::BlockReader& blocks, int aheadFrom)
    {
        std::string got;
        for (int k = 0;; ++k) {
            if (k == aheadFrom) blocks.readAhead();
            const auto block = blocks.next();
            if (block.empty()) break;
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block.data()) % 4096, 0u);
            got.append(reinterpret_cast<const char*>(block.data()), block.size());
        }
        EXPECT_TRUE(blocks.next().empty());
        return got;
    }

    TempTree tree;
    fs::PosixFs posix;
    FaultInjectingFs fs{posix};
};

TEST_F(BlockReaderTest, GivesTheBytesInOrderUpToTheLengthWhetherReadingAheadOrNot)
{
    const std::string data = Bytes(16 * kBlock + 5);
    const auto path = tree.write("f", data);
    for (int aheadFrom : {-1, 0, 3}) {
        SCOPED_TRACE(aheadFrom);
        fs::BlockReader whole(fs.openRead(At(fs, path)), data.size(), kBlock);
        EXPECT_TRUE(Drain(whole, aheadFrom) == data);
        EXPECT_EQ(whole.readingAhead(), aheadFrom >= 0);
        fs::BlockReader part(fs.openRead(At(fs, path)), 5 * kBlock + 1, kBlock);  // the file grew since
        EXPECT_TRUE(Drain(part, aheadFrom) == data.substr(0, 5 * kBlock + 1));
        fs::BlockReader shrunk(fs.openRead(At(fs, path)), 40 * kBlock, kBlock);
        EXPECT_TRUE(Drain(shrunk, aheadFrom) == data);
    }
}

TEST_F(BlockReaderTest, AFailedReadFailsInOrderAndAStopMidwayReturns)
{
    const auto path = tree.write("f", Bytes(16 * kBlock));
    for (int aheadFrom : {0, 2}) {
        fs.failOn(Call::Read, EIO, {}, 5);
        fs::BlockReader blocks(fs.openRead(At(fs, path)), 16 * kBlock, kBlock);
        for (int k = 0; k < 5; ++k) {
            if (k == aheadFrom) blocks.readAhead();
            EXPECT_EQ(blocks.next().size(), kBlock) << k;
        }
        EXPECT_THROW(blocks.next(), fs::FsError);
        fs.clearFaults();
    }
    const int before = fs.calls(Call::Read);
    {
        fs::BlockReader stopped(fs.openRead(At(fs, path)), 16 * kBlock, kBlock);
        stopped.readAhead();
        EXPECT_EQ(stopped.next().size(), kBlock);
    }
    // The block given, and at most two read ahead before the stop was seen.
    EXPECT_LE(fs.calls(Call::Read) - before, 3);
}

TEST_F(BlockReaderTest, MappedBlocksGiveTheSameBytesAndAVanishedPageFailsTheRead)
{
    const std::string data = Bytes(17 * 1024 * 1024 + 5);  // three mappings, the last one short
    const auto path = tree.write("f", data);
    for (std::uint64_t length : {data.size(), std::uint64_t{9} << 20, data.size() + kBlock}) {
        fs::BlockReader blocks(fs.openRead(At(fs, path)), length, kBlock);
        std::string got;
        for (int k = 0;; ++k) {
            if (k == 4) blocks.mapRest();
            const auto block = blocks.next();
            if (block.empty()) break;
            EXPECT_EQ(blocks.mapping(), k >= 4);
            blocks.touch([&] { got.append(reinterpret_cast<const char*>(block.data()), block.size()); });
        }
        EXPECT_TRUE(got == data.substr(0, length)) << length;
    }

    fs::BlockReader blocks(fs.openRead(At(fs, path)), data.size(), kBlock);
    blocks.mapRest();
    const auto block = blocks.next();
    ASSERT_TRUE(blocks.mapping());
    std::filesystem::resize_file(path, 0);  // another program truncates the file under the mapping
    unsigned sum = 0;
    try {
        blocks.touch([&] { sum += block[block.size() - 1]; });
        ADD_FAILURE() << "a vanished page was read";
    } catch (const fs::FsError& e) {
        EXPECT_EQ(e.error(), EIO);
    }
    EXPECT_EQ(sum, 0u);
}

}  // namespace
}  // namespace sorvin::test
