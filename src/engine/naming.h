// Collision-free naming: the serial-numbered name format, and the candidate walk that tries the
// plain name first and then serial-numbered names until it meets a free name or a file that
// counts as the same file as the source (same size and, with the CRC-32 option, same checksum).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fs/file_system.h"
#include "shared/run.h"
#include "shared/window.h"

namespace sorvin {

// base + "_" + serial + "." + ext, or base + "." + ext + "_" + serial with the serial after the
// extension; the serial has at least three digits. A name that would end in "." (serial before an
// empty extension) is stored without that dot: README_000.
std::string SerialName(std::string_view base, std::string_view ext, int serial, bool afterExtension);

enum class WalkOutcome { Free, Identical, Stopped };

// What makes a name of the source's size hold the same file.
enum class SameFileRule {
    // The size, and with the CRC-32 option the checksum: enough for a copy, where a file wrongly
    // taken for a duplicate is merely not copied.
    SizeOrChecksum,
    // The bytes themselves, for a move, which deletes the source: equal sizes and even equal
    // checksums can hide different content. The same file reached through a second hard link
    // needs no reading.
    Content,
};

class CandidateWalk {
public:
    // The source is `fileName` in `srcFolder`; both folders stay open while the walk lives.
    CandidateWalk(Run& run, Window& window, fs::FileSystem& fs, const fs::Folder& srcFolder, std::string fileName,
                  const fs::Folder& dstFolder, SameFileRule rule);

    // Walks on from the current candidate. File-system failures are thrown.
    WalkOutcome run();
    // Gives up the current candidate (another program took it meanwhile) and builds the next.
    void skip() { advance(); }

    const std::string& candidate() const { return candidate_; }
    fs::Entry target() const { return {dst_, candidate_}; }
    int renameCount() const { return renameCount_; }

private:
    enum class SizeVerdict { Free, OtherSize, SameSize };
    SizeVerdict compareFileSize();
    void advance();
    fs::Entry source() const { return {src_, fileName_}; }
    bool isLink(const fs::Entry& entry);
    std::optional<WalkOutcome> sameChecksum();  // nothing when the checksums differ
    std::optional<WalkOutcome> sameContent();   // nothing when the bytes differ
    // The caption at one 1 MiB offset of a file being read through, then the window's chance to
    // take the stop button. `label` names the file, `word` what the reading checks.
    void checkProgress(const std::string& label, std::string_view word, std::uint64_t offset, std::uint64_t length);

    Run& run_;
    Window& window_;
    fs::FileSystem& fs_;
    const fs::Folder& src_;
    const fs::Folder& dst_;
    std::string fileName_, base_, ext_, candidate_;
    SameFileRule rule_;
    DestinationPicture::Sizes& known_;
    int renameCount_ = 0;
    std::optional<std::uint64_t> srcSize_;
    std::optional<std::uint32_t> srcCrc_;
};

}  // namespace sorvin
