// The journal of a run: every step that changed the disk, kept in a file of its own so the run
// can be taken back later. A layer over the file system records each step that succeeded, so the
// engine never learns that it is recorded.
//
// The journals live in $XDG_STATE_HOME/sorvin/ (~/.local/state/sorvin/ by default), one file per
// run named by its start time, "<UTC time>.journal"; a run taken back becomes "<UTC time>.undone".
// The newest 20 are kept. A file is a first line "sorvin journal 1" and one line per step, eight
// fields joined by tabs: the step's letter, size, permission bits (octal), modification time
// (seconds.nanoseconds), the kept file's size and time, and two paths. In the paths "\" is
// written "\\", a tab "\t" and a line feed "\n". The letters:
//   M  renamed from the first path to the second (size and time: the file's)
//   C  copied from the first path to the second (a copy run)
//   T  copied from the first path to the second, its source to be deleted (a move across file
//      systems; the source's deletion is an X line of the first path)
//   X  the first path deleted: a move's source, or a copy the run gave up
//   D  the first path deleted as identical to the second (size, bits and time: the deleted
//      file's; kept size and time: the second path's then)
//   F  the folder at the first path made
//   R  the empty folder at the first path removed (bits: the folder's)
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"

namespace sorvin::run {

struct Step {
    enum class Kind : char {
        Renamed = 'M', Copied = 'C', MoveCopied = 'T', Deleted = 'X', Duplicate = 'D', FolderMade = 'F', FolderRemoved = 'R'
    };
    Kind kind {};
    std::uint64_t size = 0;
    std::uint32_t mode = 0;
    timespec mtime {};
    std::uint64_t keptSize = 0;
    timespec keptMtime {};
    std::string path, other;
};

std::string FormatStep(const Step& step);              // one line, without its line feed
std::optional<Step> ParseStep(const std::string& line);  // nothing for a line that is no step

// The folder the journals are kept in.
std::filesystem::path JournalFolder();

// The newest journal of a run not yet taken back, with its steps (with `firstStep`, only its
// first); nothing when there is none. Journals without a step are passed over.
struct Journal {
    std::filesystem::path file;
    std::vector<Step> steps;
};
std::optional<Journal> NewestJournal(bool firstStep = false);
// Marks a journal's run as taken back.
void MarkUndone(const std::filesystem::path& file);

// Forwards every call to `inner` and records each change that succeeded. The journal file is
// made at the first step of a run. The lines are written at least once a second while steps
// come and at endRun, so a killed run leaves them in the page cache; they are put on the disk
// (fdatasync, and the folder's fsync for the file's name) only when a batch of moves is made
// durable, before its sources are deleted. Elsewhere the kernel writes them back as it does any
// file: on ext4 every fdatasync commits all the metadata the run has changed, so syncing the
// journal would make copies and renames wait for the disk. A power failure may thus cost the
// last lines of a run: the files they name stay where the run put them (a duplicate it deleted
// is still held by the file it was identical to). A journal that cannot be written is given up
// for the rest of the run; `failed` is told once why.
class JournalingFs final : public fs::FileSystem {
public:
    JournalingFs(fs::FileSystem& inner, std::function<void(const std::string&)> failed);
    ~JournalingFs() override;
    JournalingFs(const JournalingFs&) = delete;
    JournalingFs& operator=(const JournalingFs&) = delete;

    // The run is over: its journal is put on the disk and closed; the next step starts another.
    void endRun();

    fs::FolderPtr openPath(const fs::Path& p) override { return inner_.openPath(p); }
    fs::FolderPtr openFolder(const fs::Entry& e) override { return inner_.openFolder(e); }
    bool folderExists(const fs::Path& p) override { return inner_.folderExists(p); }
    fs::EntryType entryType(const fs::Entry& e) override { return inner_.entryType(e); }
    std::uint64_t fileSize(const fs::Entry& e) override { return inner_.fileSize(e); }
    fs::Identity identity(const fs::Entry& e, bool follow) override { return inner_.identity(e, follow); }
    fs::Identity identity(const fs::Folder& f) override { return inner_.identity(f); }
    bool sameFolderOtherSpelling(const fs::Folder& a, const fs::Folder& b) override { return inner_.sameFolderOtherSpelling(a, b); }
    fs::Listing list(const fs::Folder& f) override { return inner_.list(f); }
    bool folderIsEmpty(const fs::Folder& f) override { return inner_.folderIsEmpty(f); }
    bool unchangedSince(const fs::Entry& e, const fs::FileState& seen) override { return inner_.unchangedSince(e, seen); }
    fs::FileState state(const fs::Entry& e) override { return inner_.state(e); }
    void restoreAttributes(const fs::Entry& e, std::uint32_t mode, const timespec* mtime) override
    {
        inner_.restoreAttributes(e, mode, mtime);
    }
    std::unique_ptr<fs::Reader> openRead(const fs::Entry& e) override { return inner_.openRead(e); }

    void createFolder(const fs::Entry& e) override;
    void removeEmptyFolder(const fs::Entry& e, const fs::Folder& opened) override;
    void renameNoReplace(const fs::Entry& from, const fs::Entry& to) override;
    void deleteFile(const fs::Entry& e) override;
    bool deleteDuplicate(const fs::Entry& file, const fs::Entry& keep) override;
    fs::FileState copyFile(const fs::Entry& from, const fs::Entry& to, const fs::CopyProgress& progress,
                           const std::atomic<std::int32_t>* cancel, fs::Durability durability) override;
    void makeDurable(const std::vector<fs::Entry>& placed) override;
    // The leftovers of killed copies were never part of any run's outcome.
    void removeLeftovers(const fs::Folder& folder) override { inner_.removeLeftovers(folder); }

private:
    void record(const Step& step);
    // Writes the waiting lines when a second has passed since they last were.
    void writeWhenDue();
    void write();
    void sync();  // writes, then puts on the disk what is not there yet
    void give(const std::string& why);
    std::optional<fs::FileState> stateOf(const fs::Entry& e);

    fs::FileSystem& inner_;
    std::function<void(const std::string&)> failed_;
    int fd_ = -1;
    bool broken_ = false;  // given up for this run
    std::string pending_;  // lines not yet written
    bool unsynced_ = false;  // lines written but not yet on the disk
    bool named_ = false;     // the file's name is on the disk
    std::chrono::steady_clock::time_point lastWrite_;
};

}  // namespace sorvin::run
