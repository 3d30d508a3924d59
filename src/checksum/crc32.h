// The CRC-32 of whole files (the checksum of ZIP and PNG). Like the copy step, it calls back with
// its progress at every 1 MiB and polls the stop flag there.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "fs/file_system.h"

namespace sorvin {

// How far a read-through has come: (offset, length). Called at every 1 MiB offset inside the file.
using CheckProgress = std::function<void(std::uint64_t offset, std::uint64_t length)>;

// Folds `n` bytes into a running CRC-32 (start with 0; pass the previous result to continue).
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t n);

// The file's CRC-32 (0 for an empty file), or nothing when `stop` was non-zero after a progress
// call. File-system failures are thrown to the caller.
std::optional<std::uint32_t> FileCRC32(fs::FileSystem& fs, const fs::Entry& file, const CheckProgress& progress,
                                       const std::atomic<std::int32_t>& stop);

}  // namespace sorvin
