// The file system as Linux gives it.
#pragma once

#include "fs/file_system.h"

namespace sorvin::fs {

class PosixFs final : public FileSystem {
public:
    bool fileExists(const Path& p) override;
    bool folderExists(const Path& p) override;
    EntryType entryType(const Path& p) override;
    std::uint64_t fileSize(const Path& p) override;
    Identity identity(const Path& p, bool followLinks) override;
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
};

}  // namespace sorvin::fs
