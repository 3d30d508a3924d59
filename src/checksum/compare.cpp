#include "checksum/compare.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "shared/state.h"
#include "shared/text.h"

namespace sorvin {

namespace {

constexpr std::size_t kBlock = 512 * 1024;
constexpr std::uint64_t kReportEvery = 1024 * 1024;

// Page-aligned: reads into a buffer that is not run several times slower on some processors.
struct FreeAligned {
    void operator()(unsigned char* p) const { std::free(p); }
};
using AlignedBlock = std::unique_ptr<unsigned char, FreeAligned>;
AlignedBlock NewBlock() { return AlignedBlock(static_cast<unsigned char*>(std::aligned_alloc(4096, kBlock))); }

}  // namespace

Comparison CompareFiles(Window& window, fs::FileSystem& fs, const std::filesystem::path& a,
                        const std::filesystem::path& b, std::uint64_t length)
{
    auto readerA = fs.openRead(a);
    auto readerB = fs.openRead(b);
    const AlignedBlock blockA = NewBlock();
    const AlignedBlock blockB = NewBlock();
    if (!blockA || !blockB) throw std::bad_alloc();

    std::uint64_t position = 0;
    std::uint64_t mark = kReportEvery;
    for (;;) {
        // One byte more than is left tells a file that grew from one that did not.
        const std::uint64_t left = length - position;
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, left + 1));
        const std::size_t gotA = readerA->read(blockA.get(), want);
        const std::size_t gotB = readerB->read(blockB.get(), want);
        if (gotA != gotB || gotA > left || std::memcmp(blockA.get(), blockB.get(), gotA) != 0) return Comparison::Different;
        if (gotA < want) return gotA == left ? Comparison::Same : Comparison::Different;
        position += gotA;
        for (; mark < position; mark += kReportEvery) {
            const auto percent = static_cast<long long>(std::floor(static_cast<double>(mark) / static_cast<double>(length) * 100.0));
            window.setCaption(DisplayText(ProgressLabel) + " " + std::to_string(percent) + "% Compare Checking" + std::to_string(mark));
            window.yield();
            if (CancelFlag == 1) return Comparison::Stopped;
        }
    }
}

}  // namespace sorvin
