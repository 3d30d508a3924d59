// The file system as Linux gives it.
#pragma once

#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "fs/file_system.h"

namespace sorvin::fs {

// The ways a finished file can take its final name without replacing anything, in the order they
// are tried: renameat2 with RENAME_NOREPLACE; link(2) and then unlink(2); the name claimed with
// mknod(2) and the file renamed over that claim. A file system that refuses a way (many FUSE
// servers refuse the flag, FAT and exFAT have no hard links) is not asked again in this process.
enum class Placement { Exclusive, Link, Placeholder };

class PosixFs final : public FileSystem {
public:
    // `first`: the way every file system starts at. Tests start later to reach a way on any disk.
    explicit PosixFs(Placement first = Placement::Exclusive) : first_(first) {}
    ~PosixFs() override;
    PosixFs(const PosixFs&) = delete;  // it owns descriptors
    PosixFs& operator=(const PosixFs&) = delete;

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
    void makeDurable(const std::vector<Entry>& placed) override;
    void removeLeftovers(const Folder& folder) override;

private:
    Placement first_;
    std::unordered_map<dev_t, Placement> refused_;  // the way each file system was last left at
    // Pairs of (source, target) file systems between which copy_file_range answered EXDEV: it is
    // not asked again in this process.
    std::set<std::pair<dev_t, dev_t>> noKernelCopy_;
    // Per file system that receives deferred copies, a descriptor opened before the first of them:
    // syncfs through it reports every write-back failure since, even one another program has
    // already been told of, which a descriptor opened later would not hear of.
    std::map<dev_t, int> errorMarks_;
};

}  // namespace sorvin::fs
