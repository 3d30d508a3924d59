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
        OpenPath, OpenFolder, FolderExists, EntryType, FileSize, Identity, SameFolder, List, FolderIsEmpty, CreateFolder,
        RemoveEmptyFolder, RenameNoReplace, DeleteFile, UnchangedSince, DeleteDuplicate, OpenRead, Read, CopyFile, MakeDurable, Count_
    };
    // Sees the full path of the entry a call is about (of the folder, without its trailing "/").
    using Match = std::function<bool(const fs::Path&)>;

    explicit FaultInjectingFs(fs::FileSystem& inner) : inner_(inner) {}

    // The next calls of `call` whose path satisfies `match` (any path when empty; for a rename or
    // a copy, either path) fail with `err`, without reaching the inner file system: the first
    // `skip` of them go through, then `times` fail (-1: all).
    void failOn(Call call, int err, Match match = {}, int skip = 0, int times = 1) { faults_.push_back({call, err, std::move(match), skip, times, {}}); }
    // Another program's doing: `action` runs once, just before the next call of `call` whose path
    // satisfies `match` (after `skip` of them), and the call then goes through.
    void before(Call call, std::function<void()> action, Match match = {}, int skip = 0) { faults_.push_back({call, 0, std::move(match), skip, 1, std::move(action)}); }
    void clearFaults() { faults_.clear(); }
    int calls(Call call) const { return counts_[static_cast<std::size_t>(call)]; }  // failed ones included

    fs::FolderPtr openPath(const fs::Path& p) override { return enter(Call::OpenPath, p), inner_.openPath(p); }
    fs::FolderPtr openFolder(const fs::Entry& e) override { return enter(Call::OpenFolder, e.path()), inner_.openFolder(e); }
    bool folderExists(const fs::Path& p) override { return enter(Call::FolderExists, p), inner_.folderExists(p); }
    fs::EntryType entryType(const fs::Entry& e) override { return enter(Call::EntryType, e.path()), inner_.entryType(e); }
    std::uint64_t fileSize(const fs::Entry& e) override { return enter(Call::FileSize, e.path()), inner_.fileSize(e); }
    fs::Identity identity(const fs::Entry& e, bool follow) override { return enter(Call::Identity, e.path()), inner_.identity(e, follow); }
    fs::Identity identity(const fs::Folder& f) override { return enter(Call::Identity, PathOf(f)), inner_.identity(f); }
    bool sameFolderOtherSpelling(const fs::Folder& a, const fs::Folder& b) override { return enter(Call::SameFolder, PathOf(a), PathOf(b)), inner_.sameFolderOtherSpelling(a, b); }
    fs::Listing list(const fs::Folder& f) override { return enter(Call::List, PathOf(f)), inner_.list(f); }
    bool folderIsEmpty(const fs::Folder& f) override { return enter(Call::FolderIsEmpty, PathOf(f)), inner_.folderIsEmpty(f); }
    void createFolder(const fs::Entry& e) override { enter(Call::CreateFolder, e.path()), inner_.createFolder(e); }
    void removeEmptyFolder(const fs::Entry& e, const fs::Folder& opened) override { enter(Call::RemoveEmptyFolder, e.path()), inner_.removeEmptyFolder(e, opened); }
    void deleteFile(const fs::Entry& e) override { enter(Call::DeleteFile, e.path()), inner_.deleteFile(e); }
    bool unchangedSince(const fs::Entry& e, const fs::FileState& seen) override { return enter(Call::UnchangedSince, e.path()), inner_.unchangedSince(e, seen); }
    bool deleteDuplicate(const fs::Entry& file, const fs::Entry& keep) override { return enter(Call::DeleteDuplicate, file.path(), keep.path()), inner_.deleteDuplicate(file, keep); }
    void renameNoReplace(const fs::Entry& from, const fs::Entry& to) override { enter(Call::RenameNoReplace, from.path(), to.path()), inner_.renameNoReplace(from, to); }
    fs::FileState copyFile(const fs::Entry& from, const fs::Entry& to, const fs::CopyProgress& progress, const std::atomic<std::int32_t>* cancel,
                           fs::Durability durability) override { return enter(Call::CopyFile, from.path(), to.path()), inner_.copyFile(from, to, progress, cancel, durability); }
    void makeDurable(const std::vector<fs::Entry>& placed) override { for (const auto& e : placed) enter(Call::MakeDurable, e.path()); inner_.makeDurable(placed); }
    void removeLeftovers(const fs::Folder& folder) override { inner_.removeLeftovers(folder); }
    fs::FileState state(const fs::Entry& e) override { return inner_.state(e); }
    void restoreAttributes(const fs::Entry& e, std::uint32_t mode, const timespec* mtime) override { inner_.restoreAttributes(e, mode, mtime); }
    std::unique_ptr<fs::Reader> openRead(const fs::Entry& e) override { return enter(Call::OpenRead, e.path()), std::make_unique<FaultyReader>(*this, inner_.openRead(e), e.path()); }

private:
    struct FaultyReader final : fs::Reader {
        FaultyReader(FaultInjectingFs& owner, std::unique_ptr<fs::Reader> inner, fs::Path path)
            : owner(owner), inner(std::move(inner)), path(std::move(path)) {}
        std::size_t read(void* buffer, std::size_t n) override { return owner.enter(Call::Read, path), inner->read(buffer, n); }
        std::optional<fs::Mapping> map(std::uint64_t offset, std::size_t n) override { return owner.enter(Call::Read, path), inner->map(offset, n); }
        FaultInjectingFs& owner;
        std::unique_ptr<fs::Reader> inner;
        fs::Path path;
    };
    struct Fault { Call call; int err; Match match; int skip, times; std::function<void()> act; /* done instead of failing */ };

    static fs::Path PathOf(const fs::Folder& f) { return f.path().size() > 1 && f.path().ends_with('/') ? f.path().substr(0, f.path().size() - 1) : f.path(); }
    // Counts the call and throws when a fault is due.
    void enter(Call call, const fs::Path& p, const fs::Path& other = {})
    {
        ++counts_[static_cast<std::size_t>(call)];
        for (std::size_t i = 0; i < faults_.size(); ++i) {
            Fault& f = faults_[i];
            if (f.call != call || f.times == 0 || (f.match && !f.match(p) && (other.empty() || !f.match(other)))) continue;
            if (f.skip > 0 && f.skip--) continue;
            if (f.times > 0) --f.times;
            if (!f.act) throw fs::FsError("injected", f.err, p);
            const auto act = f.act;  // it may add faults of its own
            act();
        }
    }

    fs::FileSystem& inner_;
    std::vector<Fault> faults_;
    std::array<int, static_cast<std::size_t>(Call::Count_)> counts_{};
};

}  // namespace sorvin::test
