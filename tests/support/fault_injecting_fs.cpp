#include "support/fault_injecting_fs.h"

namespace sorvin::test {

namespace {

const char* CallName(FaultInjectingFs::Call call)
{
    using C = FaultInjectingFs::Call;
    switch (call) {
    case C::FileExists: case C::EntryType: case C::FileSize: return "lstat";
    case C::FolderExists: case C::Identity: return "stat";
    case C::List: case C::FolderIsEmpty: return "opendir";
    case C::CreateFolder: return "mkdir";
    case C::RemoveEmptyFolder: return "rmdir";
    case C::RenameNoReplace: return "rename";
    case C::DeleteFile: return "unlink";
    case C::OpenRead: return "open";
    case C::Read: return "read";
    case C::CopyFile: return "copy";
    case C::Count_: break;
    }
    return "?";
}

}  // namespace

class FaultInjectingFs::FaultyReader final : public fs::Reader {
public:
    FaultyReader(FaultInjectingFs& owner, std::unique_ptr<fs::Reader> inner, fs::Path path)
        : owner_(owner), inner_(std::move(inner)), path_(std::move(path))
    {
    }

    std::size_t read(void* buffer, std::size_t n) override
    {
        owner_.enter(Call::Read, path_);
        return inner_->read(buffer, n);
    }

private:
    FaultInjectingFs& owner_;
    std::unique_ptr<fs::Reader> inner_;
    fs::Path path_;
};

void FaultInjectingFs::failOn(Call call, int err, Match match, int skip, int times)
{
    faults_.push_back({call, err, std::move(match), skip, times});
}

void FaultInjectingFs::enter(Call call, const fs::Path& p, const fs::Path& other)
{
    ++counts_[static_cast<std::size_t>(call)];
    for (auto& f : faults_) {
        if (f.call != call || f.times == 0) continue;
        if (f.match && !f.match(p) && (other.empty() || !f.match(other))) continue;
        if (f.skip > 0) {
            --f.skip;
            continue;
        }
        if (f.times > 0) --f.times;
        throw fs::FsError(CallName(call), f.err, p);
    }
}

bool FaultInjectingFs::fileExists(const fs::Path& p)
{
    enter(Call::FileExists, p);
    return inner_.fileExists(p);
}

bool FaultInjectingFs::folderExists(const fs::Path& p)
{
    enter(Call::FolderExists, p);
    return inner_.folderExists(p);
}

fs::EntryType FaultInjectingFs::entryType(const fs::Path& p)
{
    enter(Call::EntryType, p);
    return inner_.entryType(p);
}

std::uint64_t FaultInjectingFs::fileSize(const fs::Path& p)
{
    enter(Call::FileSize, p);
    return inner_.fileSize(p);
}

fs::Identity FaultInjectingFs::identity(const fs::Path& p, bool followLinks)
{
    enter(Call::Identity, p);
    return inner_.identity(p, followLinks);
}

fs::Listing FaultInjectingFs::list(const fs::Path& folder)
{
    enter(Call::List, folder);
    return inner_.list(folder);
}

bool FaultInjectingFs::folderIsEmpty(const fs::Path& folder)
{
    enter(Call::FolderIsEmpty, folder);
    return inner_.folderIsEmpty(folder);
}

void FaultInjectingFs::createFolder(const fs::Path& p)
{
    enter(Call::CreateFolder, p);
    inner_.createFolder(p);
}

void FaultInjectingFs::removeEmptyFolder(const fs::Path& p)
{
    enter(Call::RemoveEmptyFolder, p);
    inner_.removeEmptyFolder(p);
}

void FaultInjectingFs::renameNoReplace(const fs::Path& from, const fs::Path& to)
{
    enter(Call::RenameNoReplace, from, to);
    inner_.renameNoReplace(from, to);
}

void FaultInjectingFs::deleteFile(const fs::Path& p)
{
    enter(Call::DeleteFile, p);
    inner_.deleteFile(p);
}

std::unique_ptr<fs::Reader> FaultInjectingFs::openRead(const fs::Path& p)
{
    enter(Call::OpenRead, p);
    return std::make_unique<FaultyReader>(*this, inner_.openRead(p), p);
}

void FaultInjectingFs::copyFile(const fs::Path& from, const fs::Path& to, const fs::CopyProgress& progress,
                                const volatile std::int32_t* cancel, fs::Durability durability)
{
    enter(Call::CopyFile, from, to);
    inner_.copyFile(from, to, progress, cancel, durability);
}

}  // namespace sorvin::test
