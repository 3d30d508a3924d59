// A run laid over the disk in memory, for showing a run before it is made. Every step that would
// write (make, rename, copy, delete, remove, sync) is only recorded; every read answers from the
// disk as those recorded steps have changed it: a file the run would have placed is listed, has
// its source's size and reads as its source's bytes. The engine runs over it as over the disk and
// writes the log the run would write, unless a write would fail (a full disk, a name the file
// system refuses) or another program changes the disk in between: neither can be known here.
// Nothing on the disk is ever created, renamed or deleted through it.
#pragma once

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <variant>

#include "fs/file_system.h"

namespace sorvin::fs {

class PreviewFs final : public FileSystem {
public:
    explicit PreviewFs(FileSystem& disk) : disk_(disk) {}

    FolderPtr openPath(const Path& p) override;
    FolderPtr openFolder(const Entry& e) override;
    bool folderExists(const Path& p) override;
    EntryType entryType(const Entry& e) override;
    std::uint64_t fileSize(const Entry& e) override;
    Identity identity(const Entry& e, bool followLinks) override;
    Identity identity(const Folder& folder) override;
    bool sameFolderOtherSpelling(const Folder& a, const Folder& b) override;
    Listing list(const Folder& folder) override;
    bool folderIsEmpty(const Folder& folder) override;
    void createFolder(const Entry& e) override;
    void removeEmptyFolder(const Entry& e, const Folder& opened) override;
    void renameNoReplace(const Entry& from, const Entry& to) override;
    void deleteFile(const Entry& e) override;
    bool unchangedSince(const Entry& e, const FileState& seen) override;
    FileState state(const Entry& e) override;
    void restoreAttributes(const Entry& e, std::uint32_t mode, const timespec* mtime) override;
    bool deleteDuplicate(const Entry& file, const Entry& keep) override;
    std::unique_ptr<Reader> openRead(const Entry& e) override;
    FileState copyFile(const Entry& from, const Entry& to, const CopyProgress& progress,
                       const std::atomic<std::int32_t>* cancel, Durability durability) override;
    void makeDurable(const std::vector<Entry>&) override {}  // nothing was written
    // The run says nothing of leftovers it removes, so leaving them changes none of its lines.
    void removeLeftovers(const Folder&) override {}

private:
    // A file the run would have placed: its bytes are those of `name` in `folder` on the disk.
    struct Placed {
        FolderPtr folder;
        std::string name;
        std::uint64_t size = 0;
        Identity identity;  // a rename keeps the source's, a copy is a new file
        bool link = false;
    };
    struct Gone {};
    // What the run did to a name, latest step first: nothing recorded means as on the disk.
    using Change = std::variant<Gone, Placed, FolderPtr>;  // FolderPtr: a folder the run made
    using Key = std::pair<std::string, std::string>;       // (folder's key, name)

    FolderPtr onDisk(FolderPtr disk);
    const Change* changeOf(const Entry& e) const;
    Key keyOf(const Entry& e) const;
    Placed placed(const Entry& e, const char* call);  // what `e` holds now, as a file
    Entry diskEntry(const Entry& e) const;            // `e` with the disk's folder
    Identity followPlacedLink(const Entry& e, const Placed& link);
    Identity newIdentity(const Folder& in);
    // A file's change time, as a count of the recorded steps that changed it: removing or
    // renaming any of its names changes it for all of them, as the kernel's ctime does.
    long& changes(const Identity& file) { return changeCounts_[{file.dev, file.ino}]; }

    FileSystem& disk_;
    std::map<Key, Change> changes_;
    std::map<std::string, FolderPtr> madeByPath_;  // folders the run made, by their full paths
    std::set<std::string> removed_;                // keys of the disk's folders the run removed
    std::map<std::pair<dev_t, ino_t>, long> changeCounts_;
    ino_t nextIno_ = static_cast<ino_t>(-1);       // counts down, far from the disk's numbers
    int linkDepth_ = 0;
};

}  // namespace sorvin::fs
