// A file system that forwards to another one, except that a test can make a chosen call fail with
// a chosen errno, at a chosen occurrence, to reach every failure path without a broken disk.
#pragma once

#include <array>
#include <functional>
#include <vector>

#include "fs/file_system.h"

namespace sorvin::test {

class FaultInjectingFs final : public fs::FileSystem {
public:
    enum class Call {
        OpenPath, OpenFolder, FolderExists, EntryType, FileSize, Identity, SameFolder, List, FolderIsEmpty,
        CreateFolder, RemoveEmptyFolder, RenameNoReplace, DeleteFile, UnchangedSince, DeleteDuplicate, OpenRead, Read, CopyFile,
        MakeDurable,
        Count_
    };
    // Sees the full path of the entry a call is about (of the folder, without its trailing "/").
    using Match = std::function<bool(const fs::Path&)>;

    explicit FaultInjectingFs(fs::FileSystem& inner) : inner_(inner) {}

    // The next calls of `call` whose path satisfies `match` (any path when empty; for a rename or
    // a copy, either path) fail with `err`: the first `skip` of them go through, then `times`
    // fail (-1: all). A failing call does not reach the inner file system.
    void failOn(Call call, int err, Match match = {}, int skip = 0, int times = 1);
    // Another program's doing: `action` runs once, just before the next call of `call` whose path
    // satisfies `match` (after `skip` of them), and the call then goes through.
    void before(Call call, std::function<void()> action, Match match = {}, int skip = 0);
    void clearFaults() { faults_.clear(); }
    // Every call made, failed ones included.
    int calls(Call call) const { return counts_[static_cast<std::size_t>(call)]; }

    fs::FolderPtr openPath(const fs::Path& p) override { enter(Call::OpenPath, p); return inner_.openPath(p); }
    fs::FolderPtr openFolder(const fs::Entry& e) override { enter(Call::OpenFolder, e.path()); return inner_.openFolder(e); }
    bool folderExists(const fs::Path& p) override { enter(Call::FolderExists, p); return inner_.folderExists(p); }
    fs::EntryType entryType(const fs::Entry& e) override { enter(Call::EntryType, e.path()); return inner_.entryType(e); }
    std::uint64_t fileSize(const fs::Entry& e) override { enter(Call::FileSize, e.path()); return inner_.fileSize(e); }
    fs::Identity identity(const fs::Entry& e, bool follow) override
    {
        enter(Call::Identity, e.path());
        return inner_.identity(e, follow);
    }
    fs::Identity identity(const fs::Folder& f) override { enter(Call::Identity, PathOf(f)); return inner_.identity(f); }
    bool sameFolderOtherSpelling(const fs::Folder& a, const fs::Folder& b) override
    {
        enter(Call::SameFolder, PathOf(a), PathOf(b));
        return inner_.sameFolderOtherSpelling(a, b);
    }
    fs::Listing list(const fs::Folder& f) override { enter(Call::List, PathOf(f)); return inner_.list(f); }
    bool folderIsEmpty(const fs::Folder& f) override { enter(Call::FolderIsEmpty, PathOf(f)); return inner_.folderIsEmpty(f); }
    void createFolder(const fs::Entry& e) override { enter(Call::CreateFolder, e.path()); inner_.createFolder(e); }
    void removeEmptyFolder(const fs::Entry& e, const fs::Folder& opened) override
    {
        enter(Call::RemoveEmptyFolder, e.path());
        inner_.removeEmptyFolder(e, opened);
    }
    void deleteFile(const fs::Entry& e) override { enter(Call::DeleteFile, e.path()); inner_.deleteFile(e); }
    bool unchangedSince(const fs::Entry& e, const fs::FileState& seen) override
    {
        enter(Call::UnchangedSince, e.path());
        return inner_.unchangedSince(e, seen);
    }
    bool deleteDuplicate(const fs::Entry& file, const fs::Entry& keep) override
    {
        enter(Call::DeleteDuplicate, file.path(), keep.path());
        return inner_.deleteDuplicate(file, keep);
    }
    void renameNoReplace(const fs::Entry& from, const fs::Entry& to) override
    {
        enter(Call::RenameNoReplace, from.path(), to.path());
        inner_.renameNoReplace(from, to);
    }
    fs::FileState copyFile(const fs::Entry& from, const fs::Entry& to, const fs::CopyProgress& progress,
                           const std::atomic<std::int32_t>* cancel, fs::Durability durability) override
    {
        enter(Call::CopyFile, from.path(), to.path());
        return inner_.copyFile(from, to, progress, cancel, durability);
    }
    void makeDurable(const std::vector<fs::Entry>& placed) override
    {
        for (const auto& e : placed) enter(Call::MakeDurable, e.path());
        inner_.makeDurable(placed);
    }
    void removeLeftovers(const fs::Folder& folder) override { inner_.removeLeftovers(folder); }
    std::unique_ptr<fs::Reader> openRead(const fs::Entry& e) override;

private:
    class FaultyReader;
    struct Fault {
        Call call;
        int err;
        Match match;
        int skip;
        int times;
        std::function<void()> act;  // done instead of failing
    };

    static fs::Path PathOf(const fs::Folder& f);
    // Counts the call and throws when a fault is due.
    void enter(Call call, const fs::Path& p, const fs::Path& other = {});

    fs::FileSystem& inner_;
    std::vector<Fault> faults_;
    std::array<int, static_cast<std::size_t>(Call::Count_)> counts_{};
};

}  // namespace sorvin::test
