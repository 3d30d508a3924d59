// An entry named by its full path, for tests that call the file-system layer directly: its folder
// is opened by path, as the engine opens a dropped item's.
#pragma once

#include <string>

#include "fs/file_system.h"

namespace sorvin::test {

struct At {
    At(fs::FileSystem& fs, const fs::Path& p) : folder(fs.openPath(p.parent_path())), name(p.filename().native()) {}
    operator fs::Entry() const { return {*folder, name}; }

    fs::FolderPtr folder;
    std::string name;
};

}  // namespace sorvin::test
