// The CRC-32 of whole files (the checksum of ZIP and PNG), with progress in the window caption
// every 1 MiB and the stop flag honoured there.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fs/file_system.h"
#include "shared/window.h"

namespace sorvin {

// The byte-at-a-time table of the reflected CRC-32 (polynomial 0xEDB88320), built on first use.
// The fast kernel below does not need it; it is the reference the kernel is checked against.
extern std::array<std::uint32_t, 256> CRCTable;
void InitCRCTable();

// Folds `n` bytes into a running CRC-32 (start with 0; pass the previous result to continue).
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t n);

// Eight upper-case hexadecimal digits, most significant byte first.
std::string Crc32Text(std::uint32_t crc);

// The file's CRC-32 as Crc32Text gives it; "" for an empty name or an empty file, "-1" when the
// stop flag was raised meanwhile. File-system failures are thrown to the caller.
std::string FileCRC32(Window& window, fs::FileSystem& fs, const fs::Entry& file);

// The caption at one 1 MiB offset of a file being read through (`word`: what the reading checks),
// then the window's chance to take the stop button. True when a stop was asked for.
bool ReportCheckProgress(Window& window, std::string_view word, std::uint64_t offset, std::uint64_t length);

}  // namespace sorvin
