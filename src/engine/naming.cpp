#include "engine/naming.h"

#include <charconv>
#include <cmath>

#include "checksum/compare.h"
#include "checksum/crc32.h"
#include "fs/names.h"
#include "shared/text.h"

namespace sorvin {

std::string SerialName(std::string_view base, std::string_view ext, int serial, bool afterExtension)
{
    char digits[16];
    const std::string_view number(digits, static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, serial).ptr - digits));
    std::string name;
    name.reserve(base.size() + ext.size() + number.size() + 5);
    name += base;
    auto appendSerial = [&] {
        name += '_';
        name.append(number.size() < 3 ? 3 - number.size() : 0, '0');
        name += number;
    };
    if (afterExtension) {
        name += '.';
        name += ext;
        appendSerial();
    } else {
        appendSerial();
        if (!ext.empty()) {
            name += '.';
            name += ext;
        }
    }
    return name;
}

CandidateWalk::CandidateWalk(Run& run, Window& window, fs::FileSystem& fs, const fs::Folder& srcFolder, std::string fileName,
                             const fs::Folder& dstFolder, SameFileRule rule)
    : run_(run), window_(window), fs_(fs), src_(srcFolder), dst_(dstFolder), fileName_(std::move(fileName)),
      base_(fs::BaseName(fileName_)), ext_(fs::ExtensionName(fileName_)), candidate_(fileName_), rule_(rule),
      known_(run.RunPicture.folder(dst_.path()))
{
}

CandidateWalk::SizeVerdict CandidateWalk::compareFileSize()
{
    // The source's size is read once per file, and only when a name is occupied: a free name
    // needs nothing of the source.
    auto sourceSize = [this] {
        if (!srcSize_) srcSize_ = fs_.fileSize(source());
        return *srcSize_;
    };
    if (auto known = known_.find(candidate_); known != known_.end() && known->second != sourceSize()) return SizeVerdict::OtherSize;
    if (fs_.entryType(target()) != fs::EntryType::File) return SizeVerdict::Free;
    const std::uint64_t size = fs_.fileSize(target());
    known_[candidate_] = size;
    if (size != sourceSize()) return SizeVerdict::OtherSize;
    // A link's size is the length of the path it holds, which says nothing of a file's bytes: a
    // link and a file are never the same file. Nor is a link that leads back to the source a
    // second copy of it: taking the source for its duplicate would delete the only data.
    return isLink(source()) != isLink(target()) ? SizeVerdict::OtherSize : SizeVerdict::SameSize;
}

void CandidateWalk::advance()
{
    const int serial = window_.checked(MenuOption::Genmitsu) ? renameCount_ : run_.NameTable.next(fileName_);
    candidate_ = SerialName(base_, ext_, serial, window_.checked(MenuOption::NumPosition));
    ++renameCount_;
}

bool CandidateWalk::isLink(const fs::Entry& entry)
{
    try {
        return fs_.identity(entry, false) != fs_.identity(entry, true);
    } catch (const fs::FsError&) {
        return true;  // only a link can lead nowhere
    }
}

void CandidateWalk::checkProgress(const std::string& label, std::string_view word, std::uint64_t offset,
                                  std::uint64_t length)
{
    const auto percent = static_cast<long long>(std::floor(static_cast<double>(offset) / static_cast<double>(length) * 100.0));
    window_.setCaption(DisplayText(label) + " " + std::to_string(percent) + "% " + std::string(word) + std::to_string(offset));
    window_.yield();
}

std::optional<WalkOutcome> CandidateWalk::sameChecksum()
{
    auto crcOf = [this](const fs::Entry& file, const std::string& label) {
        return FileCRC32(fs_, file, [&](std::uint64_t offset, std::uint64_t length) {
            checkProgress(label, "CRC Checking", offset, length);
        }, CancelFlag);
    };
    if (!srcCrc_) srcCrc_ = crcOf(source(), "Src-" + fileName_);
    if (run_.stopped() || !srcCrc_) return WalkOutcome::Stopped;
    const auto targetCrc = crcOf(target(), "Dst-" + candidate_);
    if (run_.stopped() || !targetCrc) return WalkOutcome::Stopped;
    if (*targetCrc == *srcCrc_) return WalkOutcome::Identical;
    return std::nullopt;
}

std::optional<WalkOutcome> CandidateWalk::sameContent()
{
    // A second hard link of the source is the same file by definition. Whether the two names
    // are one entry spelled twice is for the deletion to find out, which is the one step
    // where it matters.
    if (fs_.identity(source(), false) == fs_.identity(target(), false)) return WalkOutcome::Identical;
    // Reading both files proves more than their checksums can, in a single pass over each.
    const std::string label = "Dst-" + candidate_;
    const auto progress = [&](std::uint64_t offset, std::uint64_t length) {
        checkProgress(label, "Compare Checking", offset, length);
    };
    switch (CompareFiles(fs_, source(), target(), *srcSize_, progress, CancelFlag)) {
    case Comparison::Same: return WalkOutcome::Identical;
    case Comparison::Stopped: return WalkOutcome::Stopped;
    case Comparison::Different: return std::nullopt;
    }
    return std::nullopt;
}

WalkOutcome CandidateWalk::run()
{
    for (;;) {
        const SizeVerdict verdict = compareFileSize();
        if (verdict == SizeVerdict::Free) return WalkOutcome::Free;
        if (verdict == SizeVerdict::SameSize) {
            if (rule_ == SameFileRule::Content) {
                if (auto outcome = sameContent()) return *outcome;
            } else if (!window_.checked(MenuOption::Crc32)) {
                return WalkOutcome::Identical;
            } else if (auto outcome = sameChecksum()) {
                return *outcome;
            }
        }
        advance();
    }
}

}  // namespace sorvin
