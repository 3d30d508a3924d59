#include "fs/preview_fs.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <optional>

#include "fs/names.h"

namespace sorvin::fs {

namespace {

// A folder of the disk, or one the run would have made (no disk folder behind it). Its key names
// it in the recorded changes: the disk's identity, which every handle on the folder shares.
class PreviewFolder final : public Folder, public std::enable_shared_from_this<PreviewFolder> {
public:
    PreviewFolder(std::string path, FolderPtr disk, std::optional<Identity> id, std::string key, FolderPtr parent)
        : Folder(std::move(path)), disk(std::move(disk)), id(id), key(std::move(key)), parent(std::move(parent))
    {
    }

    const FolderPtr disk;
    const std::optional<Identity> id;  // empty when the disk would not tell
    const std::string key;
    const FolderPtr parent;  // of a folder the run made
};

const PreviewFolder& Own(const Folder& folder) { return static_cast<const PreviewFolder&>(folder); }

std::string KeyOf(const Identity& id) { return std::to_string(id.dev) + ":" + std::to_string(id.ino); }

[[noreturn]] void Fail(const char* call, int err, const std::string& path) { throw FsError(call, err, path); }

constexpr int kMostLinks = 40;  // as the kernel follows, before ELOOP

// Why a name in a folder the run made, where nothing else is, cannot be looked up: a name no file
// system takes is refused as the disk would refuse it.
int NotThere(const Entry& e) { return e.name.size() > NAME_MAX ? ENAMETOOLONG : ENOENT; }

}  // namespace

FolderPtr PreviewFs::onDisk(FolderPtr disk)
{
    std::optional<Identity> id;
    try {
        id = disk_.identity(*disk);
    } catch (const FsError&) {
    }
    std::string key = id ? KeyOf(*id) : "path:" + disk->path();
    if (removed_.contains(key)) Fail("open", ENOENT, disk->path());
    std::string path = disk->path();
    return std::make_shared<const PreviewFolder>(std::move(path), std::move(disk), id, std::move(key), nullptr);
}

PreviewFs::Key PreviewFs::keyOf(const Entry& e) const { return {Own(e.folder).key, std::string(e.name)}; }

const PreviewFs::Change* PreviewFs::changeOf(const Entry& e) const
{
    const auto found = changes_.find(keyOf(e));
    return found == changes_.end() ? nullptr : &found->second;
}

Entry PreviewFs::diskEntry(const Entry& e) const { return {*Own(e.folder).disk, e.name}; }

Identity PreviewFs::newIdentity(const Folder& in) { return {identity(in).dev, nextIno_--}; }

PreviewFs::Placed PreviewFs::placed(const Entry& e, const char* call)
{
    const EntryType type = entryType(e);
    if (type != EntryType::File) Fail(call, type == EntryType::None ? ENOENT : EINVAL, e.path());
    if (const Change* change = changeOf(e)) return std::get<Placed>(*change);
    const Entry disk = diskEntry(e);
    Placed file {Own(e.folder).disk, std::string(e.name), disk_.fileSize(disk), disk_.identity(disk, false)};
    try {
        file.link = disk_.identity(disk, true) != file.identity;
    } catch (const FsError&) {
        file.link = true;  // only a link leads nowhere
    }
    return file;
}

FolderPtr PreviewFs::openPath(const Path& p)
{
    if (const auto made = madeByPath_.find(WithTrailingSlash(p.native())); made != madeByPath_.end()) return made->second;
    return onDisk(disk_.openPath(p));
}

FolderPtr PreviewFs::openFolder(const Entry& e)
{
    const PreviewFolder& folder = Own(e.folder);
    if (e.name == "..") return folder.disk ? onDisk(disk_.openFolder({*folder.disk, ".."})) : folder.parent;
    if (const Change* change = changeOf(e)) {
        if (const auto* made = std::get_if<FolderPtr>(change)) return *made;
        Fail("opendir", std::holds_alternative<Gone>(*change) ? ENOENT : ENOTDIR, e.path());
    }
    if (!folder.disk) Fail("opendir", NotThere(e), e.path());
    return onDisk(disk_.openFolder(diskEntry(e)));
}

bool PreviewFs::folderExists(const Path& p)
{
    return madeByPath_.contains(WithTrailingSlash(p.native())) || disk_.folderExists(p);
}

EntryType PreviewFs::entryType(const Entry& e)
{
    if (const Change* change = changeOf(e)) {
        if (std::holds_alternative<Gone>(*change)) return EntryType::None;
        return std::holds_alternative<Placed>(*change) ? EntryType::File : EntryType::Folder;
    }
    if (Own(e.folder).disk) return disk_.entryType(diskEntry(e));
    if (NotThere(e) != ENOENT) Fail("lstat", NotThere(e), e.path());
    return EntryType::None;
}

std::uint64_t PreviewFs::fileSize(const Entry& e)
{
    if (!changeOf(e) && Own(e.folder).disk) return disk_.fileSize(diskEntry(e));
    return placed(e, "lstat").size;
}

Identity PreviewFs::identity(const Entry& e, bool followLinks)
{
    const char* call = followLinks ? "stat" : "lstat";
    if (const Change* change = changeOf(e)) {
        if (const auto* file = std::get_if<Placed>(change))
            return followLinks && file->link ? followPlacedLink(e, *file) : file->identity;
        if (const auto* made = std::get_if<FolderPtr>(change)) return identity(**made);
        Fail(call, ENOENT, e.path());
    }
    if (!Own(e.folder).disk) Fail(call, NotThere(e), e.path());
    return disk_.identity(diskEntry(e), followLinks);
}

Identity PreviewFs::followPlacedLink(const Entry& e, const Placed& link)
{
    // The link's text is read where it lies on the disk and followed from where the run put it.
    struct Depth {
        int& depth;
        ~Depth() { --depth; }
    } depth {++linkDepth_};
    if (linkDepth_ > kMostLinks) Fail("stat", ELOOP, e.path());
    const auto reader = disk_.openRead({*link.folder, link.name});
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = reader->read(chunk, sizeof chunk)) > 0;) text.append(chunk, n);
    if (text.empty()) Fail("stat", ENOENT, e.path());
    const std::string target = text.front() == '/' ? text : e.folder.path() + text;
    const FolderPtr folder = openPath(ParentFolderName(target));
    return identity(Entry {*folder, FileName(target)}, true);
}

Identity PreviewFs::identity(const Folder& folder)
{
    const PreviewFolder& own = Own(folder);
    return own.id ? *own.id : disk_.identity(*own.disk);
}

bool PreviewFs::sameFolderOtherSpelling(const Folder&, const Folder&)
{
    // Asking the disk means making a file there; a preview makes none.
    return false;
}

Listing PreviewFs::list(const Folder& folder)
{
    const PreviewFolder& own = Own(folder);
    Listing listing = own.disk ? disk_.list(*own.disk) : Listing {};
    const auto first = changes_.lower_bound({own.key, ""});
    auto last = first;
    while (last != changes_.end() && last->first.first == own.key) ++last;
    if (first == last) return listing;
    const auto changed = [&](const std::string& name) { return changes_.contains({own.key, name}); };
    std::erase_if(listing.files, changed);
    std::erase_if(listing.folders, changed);
    for (auto it = first; it != last; ++it) {
        if (std::holds_alternative<Placed>(it->second)) listing.files.push_back(it->first.second);
        if (std::holds_alternative<FolderPtr>(it->second)) listing.folders.push_back(it->first.second);
    }
    std::sort(listing.files.begin(), listing.files.end());
    std::sort(listing.folders.begin(), listing.folders.end());
    return listing;
}

bool PreviewFs::folderIsEmpty(const Folder& folder)
{
    const Listing listing = list(folder);
    return listing.files.empty() && listing.folders.empty();
}

void PreviewFs::createFolder(const Entry& e)
{
    if (entryType(e) != EntryType::None) Fail("mkdir", EEXIST, e.path());
    const Identity id = newIdentity(e.folder);
    auto made = std::make_shared<const PreviewFolder>(e.path() + "/", nullptr, id, KeyOf(id),
                                                      Own(e.folder).shared_from_this());
    madeByPath_[made->path()] = made;
    changes_[keyOf(e)] = std::move(made);
}

void PreviewFs::removeEmptyFolder(const Entry& e, const Folder& opened)
{
    if (entryType(e) != EntryType::Folder || identity(e, false) != identity(opened)) Fail("rmdir", ENOENT, e.path());
    if (!folderIsEmpty(opened)) Fail("rmdir", ENOTEMPTY, e.path());
    const PreviewFolder& own = Own(opened);
    if (own.disk) removed_.insert(own.key);
    else madeByPath_.erase(own.path());
    changes_[keyOf(e)] = Gone {};
}

void PreviewFs::renameNoReplace(const Entry& from, const Entry& to)
{
    Placed file = placed(from, "rename");
    if (entryType(to) != EntryType::None) Fail("rename", EEXIST, to.path());
    if (identity(from.folder).dev != identity(to.folder).dev) Fail("rename", EXDEV, from.path());
    ++changes(file.identity);
    changes_[keyOf(to)] = std::move(file);
    changes_[keyOf(from)] = Gone {};
}

void PreviewFs::deleteFile(const Entry& e)
{
    ++changes(placed(e, "unlink").identity);
    changes_[keyOf(e)] = Gone {};
}

bool PreviewFs::unchangedSince(const Entry& e, const FileState& seen)
{
    const Placed file = placed(e, "lstat");
    return file.identity == seen.identity && file.size == seen.size && changes(file.identity) == seen.ctime.tv_nsec;
}

FileState PreviewFs::state(const Entry& e)
{
    if (!changeOf(e) && Own(e.folder).disk) return disk_.state(diskEntry(e));
    const Placed file = placed(e, "lstat");
    return {file.identity, file.size, {}, {0, changes(file.identity)}, file.link ? S_IFLNK | 0777u : S_IFREG | 0644u};
}

// Only an undo gives attributes back, and an undo is never previewed through this layer.
void PreviewFs::restoreAttributes(const Entry& e, std::uint32_t, const timespec*) { placed(e, "chmod"); }

bool PreviewFs::deleteDuplicate(const Entry& file, const Entry& keep)
{
    const Identity gone = placed(file, "lstat").identity;
    placed(keep, "lstat");
    if (keyOf(file) == keyOf(keep)) return false;
    ++changes(gone);
    changes_[keyOf(file)] = Gone {};
    return true;
}

std::unique_ptr<Reader> PreviewFs::openRead(const Entry& e)
{
    const Placed file = placed(e, "open");
    return disk_.openRead({*file.folder, file.name});
}

FileState PreviewFs::copyFile(const Entry& from, const Entry& to, const CopyProgress& progress,
                              const std::atomic<std::int32_t>* cancel, Durability)
{
    Placed file = placed(from, "copy");
    // What the copy would refuse to read (a FIFO, a device, a file it may not open) is refused here.
    disk_.openRead({*file.folder, file.name});
    for (const std::uint64_t done : {std::uint64_t {0}, file.size}) {
        if (progress) progress(file.size, done);
        if (cancel && *cancel != 0) Fail("copy", ECANCELED, from.path());
    }
    if (entryType(to) != EntryType::None) Fail("rename", EEXIST, to.path());
    FileState seen {file.identity, file.size};
    seen.ctime.tv_nsec = changes(file.identity);
    file.identity = newIdentity(to.folder);
    changes_[keyOf(to)] = std::move(file);
    return seen;
}

}  // namespace sorvin::fs
