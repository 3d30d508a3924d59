#include "fs/tree_size.h"

namespace sorvin::fs {

namespace {

void AddFile(FileSystem& fs, const Path& file, TreeSize& size)
{
    ++size.files;
    try {
        size.bytes += fs.fileSize(file);
    } catch (const FsError&) {
    }
}

}  // namespace

TreeSize MeasureTrees(FileSystem& fs, const std::vector<Path>& paths)
{
    TreeSize size;
    std::vector<Path> folders;  // a stack rather than recursion: trees may be deeper than the stack
    for (const Path& p : paths) {
        try {
            const EntryType type = fs.entryType(p);
            if (type == EntryType::File) AddFile(fs, p, size);
            if (type == EntryType::Folder) folders.push_back(p);
        } catch (const FsError&) {
        }
    }
    while (!folders.empty()) {
        const Path folder = std::move(folders.back());
        folders.pop_back();
        try {
            Listing listing = fs.list(folder);
            for (const std::string& file : listing.files) AddFile(fs, file, size);
            for (std::string& sub : listing.folders) folders.emplace_back(std::move(sub));
        } catch (const FsError&) {
        }
    }
    return size;
}

}  // namespace sorvin::fs
