// A file system that forwards to another one, except that a test can make a chosen call fail with
// a chosen errno, at a chosen occurrence, to reach every failure path without a broken disk.
#pragma once

#include <array>
#include <functional>
#include <utility>
#include <vector>

#include "fs/file_system.h"

namespace sorvin::test {

class FaultInjectingFs final : public fs::FileSystem {
public:
    enum class Call {
        FileExists, FolderExists, EntryType, FileSize, Identity, SameFolder, List, FolderIsEmpty,
        CreateFolder, RemoveEmptyFolder, RenameNoReplace, DeleteFile, DeleteDuplicate, OpenRead, Read, CopyFile,
        MakeDurable,
        Count_
    };
    using Match = std::function<bool(const fs::Path&)>;

    explicit FaultInjectingFs(fs::FileSystem& inner) : inner_(inner) {}

    // The next calls of `call` whose path satisfies `match` (any path when empty; for a rename or
    // a copy, either path) fail with `err`: the first `skip` of them go through, then `times`
    // fail (-1: all). A failing call does not reach the inner file system.
    void failOn(Call call, int err, Match match = {}, int skip = 0, int times = 1);
    void clearFaults() { faults_.clear(); }
    // Another program's doing: `action` runs once, just before the next call of `call`.
    void before(Call call, std::function<void()> action) { actions_.push_back({call, std::move(action)}); }
    // Every call made, failed ones included.
    int calls(Call call) const { return counts_[static_cast<std::size_t>(call)]; }

    bool fileExists(const fs::Path& p) override { enter(Call::FileExists, p); return inner_.fileExists(p); }
    bool folderExists(const fs::Path& p) override { enter(Call::FolderExists, p); return inner_.folderExists(p); }
    fs::EntryType entryType(const fs::Path& p) override { enter(Call::EntryType, p); return inner_.entryType(p); }
    std::uint64_t fileSize(const fs::Path& p) override { enter(Call::FileSize, p); return inner_.fileSize(p); }
    fs::Identity identity(const fs::Path& p, bool follow) override { enter(Call::Identity, p); return inner_.identity(p, follow); }
    bool sameFolderOtherSpelling(const fs::Path& a, const fs::Path& b) override
    {
        enter(Call::SameFolder, a, b);
        return inner_.sameFolderOtherSpelling(a, b);
    }
    fs::Listing list(const fs::Path& p) override { enter(Call::List, p); return inner_.list(p); }
    bool folderIsEmpty(const fs::Path& p) override { enter(Call::FolderIsEmpty, p); return inner_.folderIsEmpty(p); }
    void createFolder(const fs::Path& p) override { enter(Call::CreateFolder, p); inner_.createFolder(p); }
    void removeEmptyFolder(const fs::Path& p) override { enter(Call::RemoveEmptyFolder, p); inner_.removeEmptyFolder(p); }
    void deleteFile(const fs::Path& p) override { enter(Call::DeleteFile, p); inner_.deleteFile(p); }
    bool deleteDuplicate(const fs::Path& file, const fs::Path& keep) override
    {
        enter(Call::DeleteDuplicate, file, keep);
        return inner_.deleteDuplicate(file, keep);
    }
    void renameNoReplace(const fs::Path& from, const fs::Path& to) override
    {
        enter(Call::RenameNoReplace, from, to);
        inner_.renameNoReplace(from, to);
    }
    void copyFile(const fs::Path& from, const fs::Path& to, const fs::CopyProgress& progress,
                  const volatile std::int32_t* cancel, fs::Durability durability) override
    {
        enter(Call::CopyFile, from, to);
        inner_.copyFile(from, to, progress, cancel, durability);
    }
    void makeDurable(const std::vector<fs::Path>& placed) override
    {
        for (const auto& p : placed) enter(Call::MakeDurable, p);
        inner_.makeDurable(placed);
    }
    std::unique_ptr<fs::Reader> openRead(const fs::Path& p) override;

private:
    class FaultyReader;
    struct Fault {
        Call call;
        int err;
        Match match;
        int skip;
        int times;
    };

    // Counts the call and throws when a fault is due.
    void enter(Call call, const fs::Path& p, const fs::Path& other = {});

    fs::FileSystem& inner_;
    std::vector<Fault> faults_;
    std::vector<std::pair<Call, std::function<void()>>> actions_;
    std::array<int, static_cast<std::size_t>(Call::Count_)> counts_{};
};

}  // namespace sorvin::test
