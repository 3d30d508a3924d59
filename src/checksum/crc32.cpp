#include "checksum/crc32.h"

#include <isa-l/crc.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "shared/state.h"
#include "shared/text.h"

namespace sorvin {

std::array<std::uint32_t, 256> CRCTable {};

void InitCRCTable()
{
    for (std::uint32_t t = 0; t < 256; ++t) {
        std::uint32_t c = t;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        CRCTable[t] = c;
    }
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t n)
{
    // ISA-L picks its carry-less-multiply kernel for this CPU at run time; the checksum costs
    // less than reading the file from the page cache.
    return crc32_gzip_refl(crc, static_cast<const unsigned char*>(data), n);
}

std::string Crc32Text(std::uint32_t crc)
{
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", crc);
    return buf;
}

std::string FileCRC32(Window& window, fs::FileSystem& fs, const std::filesystem::path& path)
{
    if (path.empty()) return "";
    const std::uint64_t length = fs.fileSize(path);
    if (length == 0) return "";
    auto reader = fs.openRead(path);
    if (CancelFlag == 1) return "-1";

    // The caption reports at every 1 MiB offset inside the file; the window gets its chance to
    // handle the stop button only there.
    constexpr std::size_t kBlock = 512 * 1024;
    constexpr std::uint64_t kReportEvery = 1024 * 1024;
    auto buffer = std::make_unique<unsigned char[]>(kBlock);
    std::uint32_t crc = 0;
    std::uint64_t position = 0;
    std::uint64_t mark = kReportEvery;
    while (position < length) {
        const std::size_t got = reader->read(buffer.get(), static_cast<std::size_t>(std::min<std::uint64_t>(kBlock, length - position)));
        if (got == 0) break;  // the file shrank meanwhile: its checksum is of what is there
        std::size_t folded = 0;
        while (mark < position + got) {
            const std::size_t through = static_cast<std::size_t>(mark - position) + 1;
            crc = Crc32Update(crc, buffer.get() + folded, through - folded);
            folded = through;
            const auto percent = static_cast<long long>(std::floor(static_cast<double>(mark) / static_cast<double>(length) * 100.0));
            window.setCaption(DisplayText(ProgressLabel) + " " + std::to_string(percent) + "% CRC Checking" + std::to_string(mark));
            mark += kReportEvery;
            window.yield();
            if (CancelFlag == 1) return "-1";
        }
        crc = Crc32Update(crc, buffer.get() + folded, got - folded);
        position += got;
    }
    return Crc32Text(crc);
}

}  // namespace sorvin
