#include "fs/tree_size.h"

#include <string>

#include "fs/names.h"

namespace sorvin::fs {

namespace {

void AddFile(FileSystem& fs, const Entry& file, TreeSize& size)
{
    ++size.files;
    try {
        size.bytes += fs.fileSize(file);
    } catch (const FsError&) {
    }
}

// A folder still to be walked, by name in its parent, which stays open until its last sub-folder
// has been opened: the walk never follows a name through a link.
struct Pending {
    FolderPtr parent;
    std::string name;
};

}  // namespace

TreeSize MeasureTrees(FileSystem& fs, const std::vector<Path>& paths)
{
    TreeSize size;
    std::vector<Pending> folders;  // a stack rather than recursion: trees may be deeper than the stack
    for (const Path& p : paths) {
        try {
            const FolderPtr parent = fs.openPath(ParentFolderName(p.native()));
            const std::string name = FileName(p.native());
            const EntryType type = fs.entryType({*parent, name});
            if (type == EntryType::File) AddFile(fs, {*parent, name}, size);
            if (type == EntryType::Folder) folders.push_back({parent, name});
        } catch (const FsError&) {
        }
    }
    while (!folders.empty()) {
        const Pending next = std::move(folders.back());
        folders.pop_back();
        try {
            const FolderPtr folder = fs.openFolder({*next.parent, next.name});
            Listing listing = fs.list(*folder);
            for (const std::string& file : listing.files) AddFile(fs, {*folder, file}, size);
            for (std::string& sub : listing.folders) folders.push_back({folder, std::move(sub)});
        } catch (const FsError&) {
        }
    }
    return size;
}

}  // namespace sorvin::fs
