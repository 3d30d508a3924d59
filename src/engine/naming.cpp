#include "engine/naming.h"

#include <charconv>

#include "checksum/compare.h"
#include "checksum/crc32.h"
#include "fs/names.h"
#include "shared/state.h"

namespace sorvin {

DestinationPicture RunPicture;

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

CandidateWalk::CandidateWalk(Window& window, fs::FileSystem& fs, const fs::Folder& srcFolder, std::string fileName,
                             const fs::Folder& dstFolder, SameFileRule rule)
    : window_(window), fs_(fs), src_(srcFolder), dst_(dstFolder), fileName_(std::move(fileName)),
      base_(fs::BaseName(fileName_)), ext_(fs::ExtensionName(fileName_)), candidate_(fileName_), rule_(rule),
      known_(RunPicture.folder(dst_.path()))
{
}

int CandidateWalk::compareFileSize()
{
    // The source's size is read once per file, and only when a name is occupied: a free name
    // needs nothing of the source.
    auto sourceSize = [this] {
        if (!srcSize_) srcSize_ = fs_.fileSize(source());
        return *srcSize_;
    };
    if (auto known = known_.find(candidate_); known != known_.end() && known->second != sourceSize()) return 1;
    if (fs_.entryType(target()) != fs::EntryType::File) return 0;
    const std::uint64_t size = fs_.fileSize(target());
    known_[candidate_] = size;
    if (size != sourceSize()) return 1;
    // A link in the destination that leads back to the source is not a second copy of it:
    // taking the source for its duplicate would delete the only data.
    return pointsAtSource() ? 1 : 2;
}

bool CandidateWalk::pointsAtSource()
{
    try {
        const fs::Identity source = fs_.identity(this->source(), false);
        return fs_.identity(target(), false) != source && fs_.identity(target(), true) == source;
    } catch (const fs::FsError&) {
        return false;  // a dangling link leads nowhere, least of all to the source
    }
}

void CandidateWalk::advance()
{
    const int serial = window_.checked(MenuOption::Genmitsu) ? renameCount_ : NameTable.next(fileName_);
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

std::optional<WalkOutcome> CandidateWalk::sameChecksum()
{
    ProgressLabel = "Src-" + fileName_;
    if (!srcCrc_) srcCrc_ = FileCRC32(window_, fs_, source());
    if (CancelFlag == 1) return WalkOutcome::Stopped;
    ProgressLabel = "Dst-" + candidate_;
    const std::string targetCrc = FileCRC32(window_, fs_, target());
    if (CancelFlag == 1) return WalkOutcome::Stopped;
    if (targetCrc == *srcCrc_) return WalkOutcome::Identical;
    return std::nullopt;
}

std::optional<WalkOutcome> CandidateWalk::sameContent()
{
    // A second hard link of the source is the same file by definition. Whether the two names
    // are one entry spelled twice is for the deletion to find out, which is the one step
    // where it matters.
    if (fs_.identity(source(), false) == fs_.identity(target(), false)) return WalkOutcome::Identical;
    // A link is read as the text it points with: a file holding that text is not its duplicate.
    if (isLink(source()) != isLink(target())) return std::nullopt;
    // Reading both files proves more than their checksums can, in a single pass over each.
    ProgressLabel = "Dst-" + candidate_;
    switch (CompareFiles(window_, fs_, source(), target(), *srcSize_)) {
    case Comparison::Same: return WalkOutcome::Identical;
    case Comparison::Stopped: return WalkOutcome::Stopped;
    case Comparison::Different: return std::nullopt;
    }
    return std::nullopt;
}

WalkOutcome CandidateWalk::run()
{
    for (;;) {
        const int verdict = compareFileSize();
        if (verdict == 0) return WalkOutcome::Free;
        if (verdict == 2) {
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
