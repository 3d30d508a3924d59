// Whether two files hold the same bytes: what a move relies on before it deletes a source as a
// duplicate, since equal sizes, and even equal CRC-32s, can hide different content.
#pragma once

#include <cstdint>

#include "fs/file_system.h"
#include "shared/window.h"

namespace sorvin {

enum class Comparison { Same, Different, Stopped };

// Reads both files side by side and stops at the first block that differs. Like the checksum, it
// shows its progress in the caption at every 1 MiB and lets the window take the stop button
// there. `length` is the size both files were found to have; a file that is longer or shorter
// when read differs. File-system failures are thrown to the caller.
Comparison CompareFiles(Window& window, fs::FileSystem& fs, const fs::Entry& a, const fs::Entry& b,
                        std::uint64_t length);

}  // namespace sorvin
