// Whether two files hold the same bytes: what a move relies on before it deletes a source as a
// duplicate, since equal sizes, and even equal CRC-32s, can hide different content.
#pragma once

#include <cstdint>

#include "checksum/crc32.h"
#include "fs/file_system.h"

namespace sorvin {

enum class Comparison { Same, Different, Stopped };

// Reads both files side by side and stops at the first block that differs. Like the checksum, it
// calls back with its progress at every 1 MiB and polls the stop flag there. `length` is the size both files were found to have; a file that is longer or shorter
// when read differs. File-system failures are thrown to the caller.
Comparison CompareFiles(fs::FileSystem& fs, const fs::Entry& a, const fs::Entry& b, std::uint64_t length,
                        const CheckProgress& progress, const std::atomic<std::int32_t>& stop);

}  // namespace sorvin
