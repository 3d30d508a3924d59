// Every disk access of the engine goes through this interface: the POSIX implementation does the
// work, and tests wrap it to make any chosen call fail with any chosen errno. Failures are thrown
// as FsError. Paths are native byte strings.
//
// A step names an entry by an open folder and the entry's name in it, never by a path looked up
// afresh: a folder renamed, or swapped for a link, after it was opened cannot lead a step into
// another folder, and trees deeper than the longest path the system takes are walked like any
// other. Paths are followed only where the user gave them: the destination and a dropped item's
// folder.
#pragma once

#include <sys/types.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <optional>
#include <vector>

#include "fs/errors.h"
#include "fs/mapping.h"

namespace sorvin::fs {

using Path = std::filesystem::path;

// What lstat finds: a real directory is a folder; any other entry, a symbolic link included, is a
// file.
enum class EntryType { None, File, Folder };

struct Identity {
    dev_t dev = 0;
    ino_t ino = 0;
    bool operator==(const Identity&) const = default;
};

// A folder's direct entries by name, each list sorted in byte order so every run walks alike.
// Symbolic links are files, never folders to descend into. Plain strings: a folder may hold a
// hundred thousand entries, and a path object costs several times its text.
struct Listing {
    std::vector<std::string> files;
    std::vector<std::string> folders;
};

// An open folder, handed out by a FileSystem and used only with it (or a layer over it). It stays
// the folder it was when opened, whatever happens to its name.
class Folder {
public:
    virtual ~Folder() = default;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Its full path ending in "/", for the log, messages and errors only: no step follows it.
    const std::string& path() const { return path_; }

protected:
    explicit Folder(std::string path) : path_(std::move(path)) {}

private:
    std::string path_;
};
// Shared: whatever still has entries of a folder to visit keeps the folder open.
using FolderPtr = std::shared_ptr<const Folder>;

// One entry: the open folder that holds it and its name there.
struct Entry {
    const Folder& folder;
    std::string_view name;

    std::string path() const { return folder.path() + std::string(name); }  // for display
};

class Reader {
public:
    virtual ~Reader() = default;
    // Reads up to n bytes; returns fewer only at the end of the file.
    virtual std::size_t read(void* buffer, std::size_t n) = 0;
    // Maps up to n bytes from `offset` (a multiple of the page size), fewer at the end of the
    // file, none past it; nullopt where the bytes cannot be mapped (read() them then).
    virtual std::optional<Mapping> map(std::uint64_t, std::size_t) { return std::nullopt; }
};

// Bytes held in memory: a link's target text, or a test's file.
class TextReader final : public Reader {
public:
    explicit TextReader(std::string text) : text_(std::move(text)) {}

    std::size_t read(void* buffer, std::size_t n) override
    {
        const std::size_t count = std::min(n, text_.size() - pos_);
        std::memcpy(buffer, text_.data() + pos_, count);
        pos_ += count;
        return count;
    }

private:
    std::string text_;
    std::size_t pos_ = 0;
};

// Called with (total bytes, bytes transferred) before the first chunk and after every chunk.
using CopyProgress = std::function<void(std::uint64_t total, std::uint64_t transferred)>;

enum class Durability {
    Normal,  // like cp: the kernel writes the data back when it likes
    // The caller is about to delete the source: the copy counts as done only once it is on the
    // disk and the source is known not to have changed under it. A source another program holds
    // open for writing (where the kernel tells) or one that changed while it was copied fails
    // with EBUSY, and nothing is left of the copy.
    Synced,
    // As Synced, except that the copy is put on the disk later, with others, by makeDurable; its
    // write-back has started.
    Deferred,
};

// What a copy saw of its source (lstat of a link, the open file otherwise): the source of a move
// is deleted only while it still looks so, since a program may write to it until then.
struct FileState {
    Identity identity;
    std::uint64_t size = 0;
    timespec mtime{}, ctime{};
    std::uint32_t mode = 0;  // st_mode: the type and permission bits
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Follows `p` as given, links included: the destination the user named, the folder a dropped
    // item lies in. ENOTDIR when it is no folder.
    virtual FolderPtr openPath(const Path& p) = 0;
    // A real folder inside an open one, never through a link: anything else there (a link
    // included) fails with ENOTDIR, nothing there with ENOENT. ".." is the folder's parent.
    virtual FolderPtr openFolder(const Entry& e) = 0;
    virtual bool folderExists(const Path& p) = 0;     // stat (links followed) finds a directory

    virtual EntryType entryType(const Entry& e) = 0;  // lstat; None when nothing is there
    virtual std::uint64_t fileSize(const Entry& e) = 0;  // lstat: a link's own size
    virtual Identity identity(const Entry& e, bool followLinks) = 0;
    virtual Identity identity(const Folder& folder) = 0;
    // Whether two folders of one file system whose identities differ are one folder all the same:
    // a FUSE server may give each letter-case spelling of a name an inode number of its own. Only
    // FUSE is asked (a file made in `b` is looked for in `a`); elsewhere an identity is the folder's.
    virtual bool sameFolderOtherSpelling(const Folder& a, const Folder& b) = 0;
    virtual Listing list(const Folder& folder) = 0;
    virtual bool folderIsEmpty(const Folder& folder) = 0;
    virtual void createFolder(const Entry& e) = 0;  // fails when anything is there
    // rmdir, which never removes contents, of the folder `e` names while that is still `opened`:
    // anything put in its place since fails with ENOENT and stays.
    virtual void removeEmptyFolder(const Entry& e, const Folder& opened) = 0;
    // Never replaces: fails with EEXIST when `to` exists, EXDEV across file systems.
    virtual void renameNoReplace(const Entry& from, const Entry& to) = 0;
    virtual void deleteFile(const Entry& e) = 0;
    // lstat: whether `e` is still the entry a copy saw, unchanged in size, times and inode.
    virtual bool unchangedSince(const Entry& e, const FileState& seen) = 0;
    virtual FileState state(const Entry& e) = 0;  // lstat
    // Gives back what a file or folder had before a run: its permission bits (not a link's) and,
    // when `mtime` is given, its modification time. Where the file system cannot store them (FAT)
    // they are passed over, as a copy does.
    virtual void restoreAttributes(const Entry& e, std::uint32_t mode, const timespec* mtime) = 0;
    // Deletes `file`, whose bytes `keep` was found to hold. False, with nothing deleted, when the
    // two names turn out to be one entry: a second spelling of one name on a file system that
    // ignores letter case, where identities cannot always tell.
    virtual bool deleteDuplicate(const Entry& file, const Entry& keep) = 0;
    virtual std::unique_ptr<Reader> openRead(const Entry& e) = 0;

    // The copy step. `to` must not exist; the data goes to a hidden temporary name in the target's
    // folder and takes its final name only when complete, never replacing anything. A symbolic
    // link is copied as a link. FIFOs, sockets and devices are refused without being opened.
    // *cancel is polled after every progress call; when it is non-zero the copy is abandoned
    // (ECANCELED). On any failure nothing is left at `to` or under the temporary name, and the
    // source is untouched. Returns what it saw of the source: with Synced and Deferred, that is
    // what the copy holds.
    virtual FileState copyFile(const Entry& from, const Entry& to, const CopyProgress& progress,
                          const std::atomic<std::int32_t>* cancel, Durability durability) = 0;

    // Puts files placed by Deferred copies, and the folders that name them, on the disk: what
    // Synced does for one copy, for many at the price of one disk flush where the file system
    // allows it. Throws when any of them may not be on the disk.
    virtual void makeDurable(const std::vector<Entry>& placed) = 0;

    // Removes from `folder` the copy step's temporaries whose copy was killed: each copy holds a
    // lock on its temporary while it writes, so one whose lock can be taken has no writer left.
    // Nothing else is touched, and nothing is reported or thrown: a leftover that stays does no
    // harm.
    virtual void removeLeftovers(const Folder& folder) = 0;
};

}  // namespace sorvin::fs
