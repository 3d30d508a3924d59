#include "checksum/compare.h"

#include <cstring>

#include "fs/block_reader.h"

namespace sorvin {

namespace {

constexpr std::uint64_t kReportEvery = 1024 * 1024;

}  // namespace

Comparison CompareFiles(fs::FileSystem& fs, const fs::Entry& a, const fs::Entry& b, std::uint64_t length,
                        const CheckProgress& progress, const std::atomic<std::int32_t>& stop)
{
    // One byte more than the length tells a file that grew from one that did not. Reading one
    // file ahead on a second thread measured no faster than reading both here (2026-12-07, 1 GiB
    // pairs on a shared Xeon): the compare costs little next to the reads.
    fs::BlockReader blocksA(fs.openRead(a), length + 1);
    fs::BlockReader blocksB(fs.openRead(b), length + 1);

    std::uint64_t position = 0;
    std::uint64_t mark = kReportEvery;
    for (;;) {
        const auto blockA = blocksA.next();
        const auto blockB = blocksB.next();
        if (blockA.size() != blockB.size()) return Comparison::Different;
        if (blockA.empty()) return position == length ? Comparison::Same : Comparison::Different;
        if (std::memcmp(blockA.data(), blockB.data(), blockA.size()) != 0) return Comparison::Different;
        position += blockA.size();
        if (position > length) return Comparison::Different;
        for (; mark < position; mark += kReportEvery) {
            progress(mark, length);
            if (stop.load() != 0) return Comparison::Stopped;
        }
    }
}

}  // namespace sorvin
