#include "run/undo.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <optional>
#include <set>

#include "checksum/compare.h"
#include "fs/names.h"
#include "run/journal.h"
#include "shared/run.h"
#include "shared/text.h"

namespace sorvin::run {

namespace {

constexpr std::string_view kStart = "元に戻す処理開始...", kEnd = "元に戻す処理終了...", kNothing = "元に戻す処理はありません";
constexpr std::string_view kMovedBack = "…元の場所に戻した";
constexpr std::string_view kCopyRemoved = "…コピー削除";
constexpr std::string_view kRestored = "…同一ファイルから復元";
constexpr std::string_view kFolderMade = "…フォルダ作成";
constexpr std::string_view kFolderRemoved = "…フォルダ削除";
constexpr std::string_view kFolderKept = "…削除しない(フォルダが空ではない)";
constexpr std::string_view kChanged = "…変更されているため戻さない";
constexpr std::string_view kTaken = "…元の場所に同名のものがあるため戻さない";
constexpr std::string_view kMissing = "…見つからないため戻せない";
constexpr std::string_view kSourceChanged = "…復元元の同一ファイルが変更されているため戻せない";

// Copies back across file systems share their durability as a run's moves do.
constexpr std::size_t kBatchFiles = 4096;
constexpr std::uint64_t kBatchBytes = 512u << 20;
constexpr auto kBatchAge = std::chrono::seconds(1);

std::string Unrestorable(const fs::FsError& e) { return "…元に戻せない(" + e.description() + ")"; }

bool SameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

// One file or folder named by a journal's path: the folder it lies in, opened by that path as a
// dropped item's folder is, and its name there.
struct Spot {
    fs::FolderPtr folder;
    std::string name;
    fs::Entry entry() const { return {*folder, name}; }
};

class Undo {
public:
    Undo(Window& window, fs::FileSystem& fs, bool dryRun) : window_(window), fs_(fs), dryRun_(dryRun) {}

    // False when a stop was taken.
    bool take(const Step& s)
    {
        try {
            // Folders are made and removed, and duplicates copied back, once the files copied
            // back before them have taken their place.
            if (s.kind == Step::Kind::FolderMade || s.kind == Step::Kind::FolderRemoved || s.kind == Step::Kind::Duplicate)
                closeBatch();
            switch (s.kind) {
            case Step::Kind::Renamed: moveBack(s, s.path, s.other, false); break;
            case Step::Kind::MoveCopied: moveBack(s, s.path, s.other, true); break;
            case Step::Kind::Copied: removeCopy(s); break;
            case Step::Kind::Deleted: givenUp_.insert(s.path); break;
            case Step::Kind::Duplicate: restoreDuplicate(s); break;
            case Step::Kind::FolderMade: removeFolder(s.path); break;
            case Step::Kind::FolderRemoved: makeFolder(s); break;
            }
        } catch (const Stop&) {
            return false;
        } catch (const fs::FsError& e) {
            if (e.error() == ECANCELED && CancelFlag.load() != 0) return false;
            left(e.path().empty() ? s.path : e.path().native(), Unrestorable(e));
        }
        return true;
    }

    // The files copied back across file systems, put on the disk together; then their gathered
    // copies are deleted and their lines written, with those that came after them.
    void closeBatch()
    {
        std::vector<Pending> batch;
        batch.swap(batch_);
        batchBytes_ = 0;
        std::vector<fs::Entry> placed;
        for (const Pending& p : batch)
            if (p.back) placed.push_back(p.back->entry());
        // As with the run's own batches: a failure is told once, so none of the batch is trusted.
        bool durable = true;
        try {
            if (!placed.empty()) fs_.makeDurable(placed);
        } catch (const std::exception&) {
            durable = false;
        }
        for (const Pending& p : batch) {
            if (!p.back) {
                write(p.path, p.marker);
                continue;
            }
            try {
                if (!durable) {
                    // A copy back that may not be on the disk goes, and the gathered file stays.
                    fs_.deleteFile(p.back->entry());
                    throw fs::FsError("fsync", EIO, p.path);
                }
                fs_.deleteFile(spotOf(p.gathered).entry());
                write(p.path, kMovedBack);
            } catch (const fs::FsError& e) {
                left(p.path, Unrestorable(e));
            }
        }
    }

    const std::string& log() const { return log_; }
    int leftCount() const { return left_; }

private:
    struct Stop {};

    // A file copied back whose gathered copy goes with its batch; or, with no copy, a line that
    // waits for the batch's lines before it.
    struct Pending {
        std::optional<Spot> back;
        std::string gathered, path, marker;
    };

    void line(const std::string& path, std::string_view marker)
    {
        if (!batch_.empty()) return batch_.push_back({std::nullopt, {}, path, std::string(marker)});
        write(path, marker);
    }
    void write(const std::string& path, std::string_view marker)
    {
        const std::string text = DisplayText(path) + std::string(marker) + "-" + TimeText();
        window_.setPaneText(text);
        log_ += '\n';
        log_ += text;
    }
    void left(const std::string& path, std::string_view marker)
    {
        line(path, marker);
        ++left_;
    }

    // Nothing when the folder it lies in is gone.
    std::optional<Spot> locate(const std::string& path)
    {
        try {
            return Spot {fs_.openPath(fs::ParentFolderName(path)), fs::FileName(path)};
        } catch (const fs::FsError& e) {
            if (e.error() == ENOENT || e.error() == ENOTDIR) return std::nullopt;
            throw;
        }
    }
    Spot spotOf(const std::string& path)
    {
        auto spot = locate(path);
        if (!spot) throw fs::FsError("open", ENOENT, fs::ParentFolderName(path));
        return std::move(*spot);
    }

    // What is at `path`, as the steps taken so far left it: a trial run only pretends to take them.
    fs::EntryType typeAt(const std::string& path)
    {
        if (const auto it = pretended_.find(path); it != pretended_.end()) return it->second;
        const auto spot = locate(path);
        return spot ? fs_.entryType(spot->entry()) : fs::EntryType::None;
    }
    // The file at `path` as it is; nothing when a trial run put it there.
    std::optional<fs::FileState> stateAt(const std::string& path)
    {
        if (pretended_.contains(path)) return std::nullopt;
        return fs_.state(spotOf(path).entry());
    }
    // A file, not a folder, of the size and time the run left it with.
    bool asLeft(const std::string& path, std::uint64_t size, const timespec& mtime)
    {
        const auto st = stateAt(path);
        return st && !S_ISDIR(st->mode) && st->size == size && SameTime(st->mtime, mtime);
    }
    bool sameBytes(const std::string& a, const std::string& b, std::uint64_t size)
    {
        const Comparison c = CompareFiles(fs_, spotOf(a).entry(), spotOf(b).entry(), size,
                                          [&](std::uint64_t, std::uint64_t) { window_.yield(); }, CancelFlag);
        if (c == Comparison::Stopped) throw Stop {};
        return c == Comparison::Same;
    }

    void pretend(const std::string& path, fs::EntryType type) { pretended_[path] = type; }
    void deleteFile(const std::string& path)
    {
        if (dryRun_) return pretend(path, fs::EntryType::None);
        fs_.deleteFile(spotOf(path).entry());
    }
    // A copy of `from` at `to`, never replacing anything; its attributes are `from`'s.
    void copy(const std::string& from, const std::string& to, fs::Durability durability)
    {
        if (dryRun_) return pretend(to, fs::EntryType::File);
        window_.setCaption(DisplayText(fs::FileName(to)));
        const Spot a = spotOf(from), b = spotOf(to);
        // The temporaries an undo killed mid-copy left there go, as a run's do.
        if (swept_.insert(b.folder->path()).second) fs_.removeLeftovers(*b.folder);
        fs_.copyFile(a.entry(), b.entry(), [&](std::uint64_t, std::uint64_t) { window_.yield(); }, &CancelFlag, durability);
    }

    // A file the run moved from `from` to `to` goes back, renamed or copied back and then deleted.
    void moveBack(const Step& s, const std::string& from, const std::string& to, bool copied)
    {
        if (givenUp_.erase(to)) return;  // the run deleted that copy itself
        if (typeAt(to) == fs::EntryType::None) {
            if (typeAt(from) == fs::EntryType::None) left(to, kMissing);
            return;  // already back, or never moved
        }
        if (!asLeft(to, s.size, s.mtime)) return left(to, kChanged);
        if (typeAt(from) != fs::EntryType::None) {
            // A copy back that a stop or a crash cut short before the gathered file was deleted.
            if (asLeft(from, s.size, s.mtime) && sameBytes(from, to, s.size)) {
                deleteFile(to);
                return line(from, kMovedBack);
            }
            return left(from, kTaken);
        }
        if (dryRun_) {
            pretend(from, fs::EntryType::File);
            pretend(to, fs::EntryType::None);
            return line(from, kMovedBack);
        }
        bool renamed = !copied;
        if (renamed) {
            try {
                fs_.renameNoReplace(spotOf(to).entry(), spotOf(from).entry());
            } catch (const fs::FsError& e) {
                if (e.error() == EEXIST) return left(from, kTaken);
                if (e.error() != EXDEV) throw;
                renamed = false;
            }
        }
        if (!renamed) {
            // The gathered file goes only once its copy back is on the disk, with its batch.
            try {
                copy(to, from, fs::Durability::Deferred);
            } catch (const fs::FsError& e) {
                if (e.error() == EEXIST) return left(from, kTaken);
                throw;
            }
            const auto now = std::chrono::steady_clock::now();
            if (batch_.empty()) batchOpened_ = now;
            batch_.push_back({spotOf(from), to, from, std::string(kMovedBack)});
            batchBytes_ += s.size;
            if (batch_.size() >= kBatchFiles || batchBytes_ >= kBatchBytes || now - batchOpened_ >= kBatchAge) closeBatch();
            return;
        }
        line(from, kMovedBack);
    }

    void removeCopy(const Step& s)
    {
        if (givenUp_.erase(s.other)) return;
        // A copy whose source has gone since is all that is left of it: it goes back instead.
        if (typeAt(s.path) == fs::EntryType::None) return moveBack(s, s.path, s.other, true);
        if (typeAt(s.other) == fs::EntryType::None) return;
        if (!asLeft(s.other, s.size, s.mtime)) return left(s.other, kChanged);
        deleteFile(s.other);
        line(s.other, kCopyRemoved);
    }

    void restoreDuplicate(const Step& s)
    {
        const std::string& file = s.path;
        if (typeAt(file) != fs::EntryType::None) {
            const auto st = stateAt(file);
            if (!st) return;
            const bool sized = !S_ISDIR(st->mode) && st->size == s.size;
            if (sized && st->mode == s.mode && SameTime(st->mtime, s.mtime)) return;  // already back
            // Copied back, but a stop or a crash came before its own time and bits were given back.
            if (!sized || !SameTime(st->mtime, s.keptMtime)) return left(file, kTaken);
        } else {
            if (typeAt(s.other) == fs::EntryType::None || !asLeft(s.other, s.keptSize, s.keptMtime)) return left(file, kSourceChanged);
            try {
                copy(s.other, file, fs::Durability::Normal);
            } catch (const fs::FsError& e) {
                if (e.error() == EEXIST) return left(file, kTaken);
                throw;
            }
        }
        if (!dryRun_) fs_.restoreAttributes(spotOf(file).entry(), s.mode, &s.mtime);
        line(file, kRestored);
    }

    void removeFolder(const std::string& path)
    {
        if (typeAt(path) != fs::EntryType::Folder) return;
        const Spot spot = spotOf(path);
        const fs::FolderPtr folder = fs_.openFolder(spot.entry());
        if (!emptied(*folder)) return left(path, kFolderKept);
        if (dryRun_) {
            pretend(path, fs::EntryType::None);
        } else {
            try {
                fs_.removeEmptyFolder(spot.entry(), *folder);
            } catch (const fs::FsError& e) {
                if (e.error() == ENOTEMPTY || e.error() == EEXIST) return left(path, kFolderKept);
                throw;
            }
        }
        line(path, kFolderRemoved);
    }
    // Empty, or in a trial run, holding only what the steps so far would have taken out.
    bool emptied(const fs::Folder& folder)
    {
        if (!dryRun_) return fs_.folderIsEmpty(folder);
        const fs::Listing listing = fs_.list(folder);
        for (const auto* names : {&listing.files, &listing.folders})
            for (const std::string& name : *names)
                if (typeAt(folder.path() + name) != fs::EntryType::None) return false;
        return true;
    }

    void makeFolder(const Step& s)
    {
        const fs::EntryType type = typeAt(s.path);
        if (type == fs::EntryType::Folder) return;
        if (type != fs::EntryType::None) return left(s.path, kTaken);
        if (dryRun_) {
            pretend(s.path, fs::EntryType::Folder);
        } else {
            const Spot spot = spotOf(s.path);
            try {
                fs_.createFolder(spot.entry());
            } catch (const fs::FsError& e) {
                if (e.error() == EEXIST) return left(s.path, kTaken);
                throw;
            }
            fs_.restoreAttributes(spot.entry(), s.mode, nullptr);
        }
        line(s.path, kFolderMade);
    }

    Window& window_;
    fs::FileSystem& fs_;
    const bool dryRun_;
    std::string log_;
    int left_ = 0;
    std::set<std::string> givenUp_;  // copies the run deleted again, found before their copy step
    std::map<std::string, fs::EntryType> pretended_;
    std::set<std::string> swept_;  // folders cleared of killed copies' temporaries
    std::vector<Pending> batch_;
    std::uint64_t batchBytes_ = 0;
    std::chrono::steady_clock::time_point batchOpened_;
};

}  // namespace

bool RunToUndo() { return NewestJournal(true).has_value(); }

UndoEnd RunUndo(Window& window, fs::FileSystem& fs, bool dryRun)
{
    const std::optional<Journal> journal = NewestJournal();
    if (!journal) {
        window.setPaneText(std::string(kNothing));
        return UndoEnd::Nothing;
    }
    window.setDropMode(DropTarget::Path, DropMode::Refuse);
    window.setDropMode(DropTarget::Pane, DropMode::Refuse);
    window.setMenuEnabled(false);
    window.setPaneText("");
    window.setCancelEnabled(true);
    window.setCaption(std::string(kWindowCaption) + "...始" + TimeText());
    const std::string runCaption = window.caption();
    const int count = static_cast<int>(journal->steps.size());
    window.setProgressValue(0);
    window.setProgressMax(count);
    window.setProgressVisible(true);

    Undo undo(window, fs, dryRun);
    bool stopped = false;
    std::string log = std::string(kStart) + TimeText();
    window.setPaneText(log);
    for (int i = count - 1; i >= 0 && !stopped; --i) {
        window.setProgressValue(count - i);
        window.yield();
        stopped = CancelFlag.load() != 0 || !undo.take(journal->steps[static_cast<std::size_t>(i)]);
    }
    undo.closeBatch();
    log += undo.log();

    window.setProgressVisible(false);
    window.setCancelEnabled(false);
    CancelFlag = 0;
    window.setPaneText(stopped ? log + "…処理中止" : log + "\n" + std::string(kEnd) + TimeText());
    window.setCaption(runCaption + "停" + TimeText());
    window.setDropMode(DropTarget::Path, DropMode::Take);
    window.setDropMode(DropTarget::Pane, DropMode::Take);
    window.setMenuEnabled(true);
    if (stopped) return UndoEnd::Stopped;
    if (undo.leftCount() != 0) return UndoEnd::SomeLeft;
    if (!dryRun) {
        try {
            MarkUndone(journal->file);
        } catch (const std::exception& e) {
            window.message(std::string("記録ファイルを更新できません: ") + e.what(), MessageTitle::Application, MessageIcon::Exclamation);
            return UndoEnd::SomeLeft;
        }
    }
    return UndoEnd::AllBack;
}

}  // namespace sorvin::run
