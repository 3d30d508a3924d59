// Gathering one file, by moving or by copying. In order:
//   yield to the window; give up at once when a stop was asked for;
//   the same-folder check (the source already lies in the destination: touch nothing);
//   the candidate walk (a free name, a file that counts as the same one, or a stop);
//   free: move (a rename on one file system, else the copy step and then the source's deletion)
//         or copy (always the copy step); a name that was taken meanwhile resumes the walk;
//   identical: delete the source (move: only once its bytes are known to be in the destination,
//              and never when the name found is the source itself) or leave it (copy);
//   one log line for the outcome.
// A failed step is reported by its class; a write failure still lets the next step run, as the
// user has been told and the run stops after this file.
#include <cerrno>
#include <cmath>

#include "engine/engine.h"
#include "engine/failure.h"
#include "engine/naming.h"
#include "fs/names.h"
#include "shared/text.h"

namespace sorvin {

namespace {

struct FileTexts {
    std::string_view plain, renamed, identical, sameFolder, copyFailed;
};
constexpr FileTexts kMoveTexts {"…Move", "…Rename後Move", "…Delete", "…移動元と移動先が同じ", "移動が正常に終了しませんでした"};
constexpr FileTexts kCopyTexts {"…Copy", "…Rename後Copy", "…同一ファイルあり", "…コピー元とコピー先が同じ", "コピーが正常に終了しませんでした"};

enum class Transfer { Done, NameTaken, Ended, Batched };

// The copy's progress in the caption, under the file's name; the window handles the stop button here.
void CopyProgress(Window& window, const std::string& fileName, std::uint64_t total, std::uint64_t transferred)
{
    std::string caption = DisplayText(fileName);
    if (total != 0) {
        const auto percent = static_cast<long long>(std::floor(static_cast<double>(transferred) / static_cast<double>(total) * 100.0));
        caption += " " + std::to_string(percent) + "% complete...";
    }
    window.fileCopied(transferred);
    window.setCaption(caption);
    window.yield();
}

}  // namespace

void Engine::FileMove2(const Path& SrcPath, const Path& DstPath) { gatherFile(GatherMode::Move, SrcPath, DstPath); }
void Engine::FileCopy2(const Path& SrcPath, const Path& DstPath) { gatherFile(GatherMode::Copy, SrcPath, DstPath); }

void Engine::gatherFile(GatherMode mode, const Path& SrcPath, const Path& DstPath)
{
    const std::string& src = SrcPath.native();
    fs::FolderPtr srcFolder, dst;
    try {
        srcFolder = fs_.openPath(fs::ParentFolderName(src));
        dst = fs_.openPath(DstPath);
    } catch (const std::exception& e) {
        window_.yield();
        if (!run_.stopped()) reportFileFailure(e, src);
        return;
    }
    gatherFile(mode, srcFolder, fs::FileName(src), dst);
}

void Engine::gatherFile(GatherMode mode, const fs::FolderPtr& srcFolder, const std::string& fileName, const fs::FolderPtr& dst)
{
    const bool move = mode == GatherMode::Move;
    const FileTexts& texts = move ? kMoveTexts : kCopyTexts;

    window_.yield();
    if (run_.stopped()) return;

    const std::string src = srcFolder->path() + fileName;  // shown, never followed
    const fs::Entry source {*srcFolder, fileName};
    window_.fileStarted(source);
    const auto srcFolderId = IdentityOf(*srcFolder);
    const auto dstId = IdentityOf(*dst);

    auto writeLine = [&](const std::string& subject, std::string_view marker, bool stampShownLine) {
        closeBatch();  // its lines come first
        const std::string line = DisplayText(subject) + std::string(marker);
        const std::string stamped = line + "-" + TimeText();
        window_.setPaneText(stampShownLine ? stamped : line);
        run_.addLine(stamped);
    };

    auto failed = [&](const std::exception& e) { return reportFileFailure(e, src); };

    // The copy step; its failures have their own message, and the source always stays.
    fs::FileState copied;
    auto copyStep = [&](const fs::Entry& target, fs::Durability durability) {
        try {
            copied = fs_.copyFile(source, target,
                                  [&](std::uint64_t total, std::uint64_t done) { CopyProgress(window_, fileName, total, done); },
                                  &CancelFlag, durability);
            return Transfer::Done;
        } catch (const fs::FsError& e) {
            if (e.error() == EEXIST && !run_.stopped()) return Transfer::NameTaken;
            closeBatch();  // its lines come before this failure's
            const std::string shown = DisplayText(src);
            if (run_.stopped()) {
                // A stop the user asked for has ended the log's line: the run's closing words
                // follow this path on it.
                run_.continueLine(shown);
            } else {
                window_.message(std::string(texts.copyFailed), MessageTitle::Pelkor, MessageIcon::Exclamation);
                run_.stop();
                run_.addLine(shown);
            }
            window_.setPaneText(shown);
            return Transfer::Ended;
        }
    };

    // `line` is written once the move is done.
    auto moveTo = [&](const fs::Entry& target, const std::string& line) {
        window_.setCaption(DisplayText(fileName));
        // When either side could not be looked at, the rename reports why. A file mounted on its
        // own, on another file system than its folder, makes the rename answer EXDEV.
        const bool oneFileSystem = !srcFolderId || !dstId || srcFolderId->dev == dstId->dev;
        if (oneFileSystem) {
            try {
                fs_.renameNoReplace(source, target);
                return Transfer::Done;
            } catch (const fs::FsError& e) {
                if (e.error() == EEXIST) return Transfer::NameTaken;
                // EXDEV: two mounts of one file system; the data has to be copied after all.
                if (e.error() != EXDEV) return failed(e) ? Transfer::Done : Transfer::Ended;
            }
        }
        // The source is deleted, and the line written, once the copy is on the disk: with the
        // rest of its batch.
        const Transfer transfer = copyStep(target, fs::Durability::Deferred);
        if (transfer != Transfer::Done) return transfer;
        addToBatch({srcFolder, dst, fileName, std::string(target.name), line, copied, {}});
        return Transfer::Batched;
    };

    // The same folder reached through a link, "..", or another letter case is still the same:
    // gathering a file onto itself would take it for its own duplicate.
    const bool sameFolder = srcFolderId && dstId &&
        (*srcFolderId == *dstId || (srcFolderId->dev == dstId->dev && fs_.sameFolderOtherSpelling(*srcFolder, *dst)));
    if (sameFolder) {
        writeLine(src, texts.sameFolder, true);
        return;
    }

    CandidateWalk walk(run_, window_, fs_, *srcFolder, fileName, *dst, move ? SameFileRule::Content : SameFileRule::SizeOrChecksum);
    for (bool taken = false;; taken = true) {
        WalkOutcome outcome;
        try {
            // Another program took the last name between the walk and now: walk on from fresh
            // facts. The next name may be past the last serial, a failure like any other.
            if (taken) walk.skip();
            outcome = walk.run();
        } catch (const std::exception& e) {
            // Going on with stale facts could overwrite or delete: the file is left where it is.
            failed(e);
            return;
        }
        if (outcome == WalkOutcome::Stopped) return;

        if (outcome == WalkOutcome::Identical) {
            if (move) {
                // A copy this run placed counts only once it is on the disk.
                if (batchPlaced(walk.target())) closeBatch();
                try {
                    if (!fs_.deleteDuplicate(source, walk.target())) {
                        // The name found was the source itself, spelled another way.
                        writeLine(src, texts.sameFolder, true);
                        return;
                    }
                } catch (const std::exception& e) {
                    if (!failed(e)) return;
                }
            }
            writeLine(srcFolder->path() + walk.candidate(), texts.identical, !move);
            return;
        }

        Transfer transfer;
        if (move) {
            const auto marker = walk.renameCount() != 0 ? texts.renamed : texts.plain;
            transfer = moveTo(walk.target(), DisplayText(srcFolder->path() + walk.candidate()) + std::string(marker));
        } else {
            transfer = copyStep(walk.target(), fs::Durability::Normal);
        }
        if (transfer == Transfer::NameTaken) continue;
        if (transfer == Transfer::Done)
            writeLine(srcFolder->path() + walk.candidate(), walk.renameCount() != 0 ? texts.renamed : texts.plain, true);
        return;
    }
}

std::optional<fs::Identity> Engine::IdentityOf(const fs::Folder& folder)
{
    try {
        return fs_.identity(folder);
    } catch (const fs::FsError&) {
        return std::nullopt;
    }
}

}  // namespace sorvin
