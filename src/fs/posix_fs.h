// The file system as Linux gives it.
#pragma once

#include <unordered_map>

#include "fs/file_system.h"

namespace sorvin::fs {

// The ways a finished file can take its final name without replacing anything, in the order they
// are tried: renameat2 with RENAME_NOREPLACE; link(2) and then unlink(2); the name claimed with
// O_CREAT|O_EXCL and the file renamed over that claim. A file system that refuses a way (many FUSE
// servers refuse the flag, FAT and exFAT have no hard links) is not asked again in this process.
enum class Placement { Exclusive, Link, Placeholder };

class PosixFs final : public FileSystem {
public:
    // `first`: the way every file system starts at. Tests start later to reach a way on any disk.
    explicit PosixFs(Placement first = Placement::Exclusive) : first_(first) {}

    bool fileExists(const Path& p) override;
    bool folderExists(const Path& p) override;
    EntryType entryType(const Path& p) override;
    std::uint64_t fileSize(const Path& p) override;
    Identity identity(const Path& p, bool followLinks) override;
    bool sameFolderOtherSpelling(const Path& a, const Path& b) override;
    Listing list(const Path& folder) override;
    bool folderIsEmpty(const Path& folder) override;
    void createFolder(const Path& p) override;
    void removeEmptyFolder(const Path& p) override;
    void renameNoReplace(const Path& from, const Path& to) override;
    void deleteFile(const Path& p) override;
    bool deleteDuplicate(const Path& file, const Path& keep) override;
    std::unique_ptr<Reader> openRead(const Path& p) override;
    void copyFile(const Path& from, const Path& to, const CopyProgress& progress,
                  const volatile std::int32_t* cancel, Durability durability) override;
    void makeDurable(const std::vector<Path>& placed) override;

private:
    Placement first_;
    std::unordered_map<dev_t, Placement> refused_;  // the way each file system was last left at
};

}  // namespace sorvin::fs
