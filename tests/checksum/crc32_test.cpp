#include "checksum/crc32.h"

#include <fcntl.h>
#include <unistd.h>

#include "shared/state.h"
#include "support/at.h"
#include "support/gather_fixture.h"

namespace sorvin::test {
namespace {

using Lines = std::vector<std::string>;

class FileCrc32Test : public GatherTest {
protected:
    std::string crc(const std::string& rel) { return FileCRC32(window, fs, At(fs, tree / rel)); }
};

std::uint32_t ByteAtATime(const std::string& bytes)
{
    if (CRCTable[255] == 0) InitCRCTable();
    std::uint32_t c = 0xFFFFFFFFu;
    for (unsigned char b : bytes) c = (c >> 8) ^ CRCTable[(c ^ b) & 0xFF];
    return c ^ 0xFFFFFFFFu;
}

TEST(Crc32Kernel, AgreesWithThePublishedCheckValueAndTheByteAtATimeTable)
{
    InitCRCTable();
    EXPECT_EQ(CRCTable[1], 0x77073096u);
    EXPECT_EQ(CRCTable[128], 0xEDB88320u);
    EXPECT_EQ(CRCTable[255], 0x2D02EF8Du);
    EXPECT_EQ(Crc32Text(Crc32Update(0, "123456789", 9)), "CBF43926");
    EXPECT_EQ(Crc32Text(0x0A0B0C0D), "0A0B0C0D");
    for (std::size_t n : {1u, 15u, 16u, 63u, 64u, 255u, 4096u, 100003u}) {
        const std::string data = Bytes(n, static_cast<unsigned>(n));
        const std::size_t cut = n / 3;
        const std::uint32_t folded = Crc32Update(Crc32Update(0, data.data(), cut), data.data() + cut, n - cut);
        EXPECT_EQ(folded, ByteAtATime(data)) << n << " bytes";
    }
}

TEST_F(FileCrc32Test, EmptyPathsAndFilesHaveNoChecksumAndAMissingFileIsAFailure)
{
    tree.write("digits", "123456789");
    tree.write("empty", "");
    EXPECT_EQ(crc("digits"), "CBF43926");
    EXPECT_EQ(crc("empty"), "");
    EXPECT_EQ(FileCRC32(window, fs, {*fs.openPath(tree.root()), ""}), "");
    try {
        crc("missing");
        FAIL() << "no failure for a missing file";
    } catch (const fs::FsError& e) {
        EXPECT_EQ(e.errorClass(), fs::ErrorClass::PathNotFound);
    }
    EXPECT_EQ(fs.calls(Call::OpenRead), 1);  // the empty file was never opened
}

TEST_F(FileCrc32Test, TheCaptionReportsAtEveryMebibyteInsideTheFileAndYieldsThere)
{
    ProgressLabel = "Src-a.bin";
    for (std::size_t n : {524287u, 524288u, 524289u, 1048576u}) {
        tree.write("a.bin", Bytes(n, 7));
        EXPECT_EQ(crc("a.bin"), Crc32Text(ByteAtATime(Bytes(n, 7))));
    }
    EXPECT_TRUE(window.captions.empty());
    EXPECT_EQ(window.yields, 0);

    tree.write("b.bin", Bytes(1048577, 3));
    EXPECT_EQ(crc("b.bin"), Crc32Text(ByteAtATime(Bytes(1048577, 3))));
    EXPECT_EQ(window.captions, (Lines {"Src-a.bin 99% CRC Checking1048576"}));

    window.captions.clear();
    tree.write("c.bin", Bytes(4194304, 5));
    crc("c.bin");
    EXPECT_EQ(window.captions, (Lines {"Src-a.bin 25% CRC Checking1048576", "Src-a.bin 50% CRC Checking2097152",
                                       "Src-a.bin 75% CRC Checking3145728"}));
    EXPECT_EQ(window.yields, 4);
}

TEST_F(FileCrc32Test, AStopReturnsMinusOneAtTheNextReport)
{
    tree.write("c.bin", Bytes(4194304, 5));
    CancelFlag = 1;
    EXPECT_EQ(crc("c.bin"), "-1");
    EXPECT_TRUE(window.captions.empty());

    CancelFlag = 0;
    window.onYield = [](int k) {
        if (k == 2) CancelFlag = 1;
    };
    EXPECT_EQ(crc("c.bin"), "-1");
    EXPECT_EQ(window.captions.size(), 2u);
}

TEST_F(FileCrc32Test, FilesPastTwoGibibytesAreFoldedWhole)
{
    // Sparse: 2.5 GiB of zeros that take no disk space.
    const auto path = tree / "huge.bin";
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, 2684354560LL), 0);
    ::close(fd);
    ProgressLabel = "Dst-huge.bin";
    EXPECT_EQ(crc("huge.bin"), "4B667A2E");  // zlib.crc32 of the same zeros
    EXPECT_EQ(window.captions.size(), 2559u);
    EXPECT_EQ(window.captions[2047], "Dst-huge.bin 80% CRC Checking2147483648");
}

}  // namespace
}  // namespace sorvin::test
