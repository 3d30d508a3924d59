// Gathering one folder tree, by moving or by copying. One call per folder, in order:
//   open the source, a real folder and never a link to one; reset the serial table; yield; give up
//   when a stop was asked for;
//   the start check (the destination is the source or lies inside it: touch nothing);
//   with the structure kept, create the folder's copy in the destination when it is missing and
//   start the call again on it;
//   hand every file to the file operation and every sub-folder to a nested call;
//   moving only: remove the source folder when the walk left it empty.
// Sub-folders are handled, and removed, before their parents. A failed step is reported by its
// class and the call goes on with the next step; the run stops after this item.
#include <cerrno>

#include "engine/engine.h"
#include "engine/failure.h"
#include "fs/names.h"
#include "shared/text.h"

namespace sorvin {

namespace {

struct FolderTexts {
    std::string_view same, inside;
};
constexpr FolderTexts kMoveTexts {"…移動元と移動先が同じ", "…移動元の中に移動先がある"};
constexpr FolderTexts kCopyTexts {"…コピー元とコピー先が同じ", "…コピー元の中にコピー先がある"};
constexpr std::string_view kCreated = "…フォルダ作成";
constexpr std::string_view kKept = "…削除しない(フォルダが空ではない)";
constexpr std::string_view kDeleted = "…フォルダ削除";

}  // namespace

void Engine::FolderMove2(const Path& SrcPath, const Path& DstPath) { gatherFolder(GatherMode::Move, SrcPath, DstPath); }
void Engine::FolderCopy2(const Path& SrcPath, const Path& DstPath) { gatherFolder(GatherMode::Copy, SrcPath, DstPath); }

Engine::Placement Engine::PlaceOf(const fs::Folder& other, const fs::Folder& folder)
{
    // Climb from the other folder through its real parents and compare each with the folder
    // itself: links, "..", a root folder or another letter case hide the relation from names.
    try {
        const fs::Identity target = fs_.identity(folder);
        auto isFolder = [&](const fs::Identity& id, const fs::Folder& step) {
            return id == target || (id.dev == target.dev && fs_.sameFolderOtherSpelling(step, folder));
        };
        fs::Identity here = fs_.identity(other);
        if (isFolder(here, other)) return Placement::Same;
        fs::FolderPtr up = fs_.openFolder({other, ".."});
        for (;;) {
            const fs::Identity upId = fs_.identity(*up);
            if (upId == here) return Placement::Outside;  // the root is its own parent
            if (isFolder(upId, *up)) return Placement::Inside;
            here = upId;
            up = fs_.openFolder({*up, ".."});
        }
    } catch (const fs::FsError&) {
        return Placement::Outside;  // what cannot be looked at cannot be shown to lie inside
    }
}

void Engine::gatherFolder(GatherMode mode, const Path& SrcPath, const Path& DstPath)
{
    const std::string& src = SrcPath.native();
    // The root folder has no name in a parent: it is "." in itself.
    std::string name = fs::FileName(src);
    fs::FolderPtr parent, dst;
    try {
        parent = fs_.openPath(name.empty() ? src : fs::ParentFolderName(src));
        dst = fs_.openPath(DstPath);
    } catch (const std::exception& e) {
        // Nothing to walk: reported as a folder that cannot be opened.
        const Failure failure = DescribeFailure(e);
        if (const auto text = FailureMessage(mode == GatherMode::Move ? FailureSide::FolderMove : FailureSide::FolderCopy, failure,
                                             window_.checked(MenuOption::ErrMushi))) {
            window_.message(*text, MessageTitle::Application, MessageIcon::Exclamation);
            run_.stop();
        }
        run_.NameTable.reset();
        window_.yield();
        return;
    }
    gatherFolder(mode, parent, name.empty() ? "." : name, src, dst);
}

void Engine::gatherFolder(GatherMode mode, const fs::FolderPtr& parent, const std::string& name, const std::string& src,
                          const fs::FolderPtr& dst)
{
    const bool move = mode == GatherMode::Move;
    const FolderTexts& texts = move ? kMoveTexts : kCopyTexts;

    // Reports a failed step; the call goes on with the next one.
    auto failed = [&](const std::exception& e) { reportFolderFailure(e, move); };

    // Opened without following a link: a folder swapped for one is never entered.
    fs::FolderPtr folder;
    try {
        folder = fs_.openFolder({*parent, name});
    } catch (const std::exception& e) {
        failed(e);
    }
    run_.NameTable.reset();
    window_.yield();
    // A folder that cannot be opened has nothing to walk, even when the failure was ignored.
    if (run_.stopped() || !folder) return;

    if (const Placement placement = PlaceOf(*dst, *folder); placement != Placement::Outside) {
        writeFolderLine(src, placement == Placement::Same ? texts.same : texts.inside);
        return;
    }

    fs::FolderPtr receiving = dst;
    if (window_.folderKeep()) {
        const fs::Entry copyEntry {*dst, name};
        bool exists = true;  // a failed test goes the way of an existing folder
        try {
            // Only a real folder will do: a link in its place, one this run gathered perhaps,
            // would pour the files into whatever folder it names.
            exists = fs_.entryType(copyEntry) == fs::EntryType::Folder;
        } catch (const std::exception& e) {
            failed(e);
        }
        if (!exists) {
            bool created = true;
            try {
                fs_.createFolder(copyEntry);
            } catch (const std::exception& e) {
                failed(e);
                created = false;
            }
            writeFolderLine(copyEntry.path(), kCreated);
            // Starting again after an ignored failure would only fail again, without end.
            if (!created && !run_.stopped()) return;
            return gatherFolder(mode, parent, name, src, dst);
        }
        // Held open from here on: a link put in its place later never receives a file.
        try {
            receiving = fs_.openFolder(copyEntry);
        } catch (const std::exception& e) {
            failed(e);
            return;
        }
        fs_.removeLeftovers(*receiving);
    }

    fs::Listing listing;
    try {
        listing = fs_.list(*folder);
    } catch (const std::exception& e) {
        failed(e);  // the walk is empty
    }
    for (const std::string& file : listing.files) gatherFile(mode, folder, file, receiving);
    for (const std::string& sub : listing.folders) gatherFolder(mode, folder, sub, folder->path() + sub, receiving);
    if (!move || run_.stopped()) return;

    // Removal: only an empty folder is ever removed, never anything in it, and never the folder
    // that receives the files. The moved files' sources go with their batch: the removal
    // follows them there.
    if (PlaceOf(*receiving, *folder) != Placement::Outside) return;
    afterBatch([this, parent, name, folder, src] { removeIfEmptied(parent, name, folder, src); });
}

bool Engine::reportFolderFailure(const std::exception& e, bool move)
{
    closeBatch();  // its lines come first
    const Failure failure = DescribeFailure(e);
    const auto text = FailureMessage(move ? FailureSide::FolderMove : FailureSide::FolderCopy, failure,
                                     window_.checked(MenuOption::ErrMushi));
    if (!text) return false;
    window_.message(*text, MessageTitle::Application, MessageIcon::Exclamation);
    run_.stop();
    batchStopped_ = closing_;
    return true;
}

void Engine::writeFolderLine(const std::string& subject, std::string_view marker)
{
    closeBatch();  // its lines come first
    const std::string line = DisplayText(subject) + std::string(marker) + "-" + TimeText();
    window_.setPaneText(line);
    run_.addLine(line);
}

void Engine::removeIfEmptied(const fs::FolderPtr& parent, const std::string& name, const fs::FolderPtr& folder,
                                    const std::string& src)
{
    bool empty = false;
    try {
        empty = fs_.folderIsEmpty(*folder);
    } catch (const std::exception& e) {
        reportFolderFailure(e, true);
        return;
    }
    if (!empty) return writeFolderLine(src, kKept);
    try {
        fs_.removeEmptyFolder({*parent, name}, *folder);
    } catch (const fs::FsError& e) {
        if (e.error() == ENOTEMPTY || e.error() == EEXIST) return writeFolderLine(src, kKept);  // something arrived meanwhile
        reportFolderFailure(e, true);
    }
    writeFolderLine(src, kDeleted);
}

}  // namespace sorvin
