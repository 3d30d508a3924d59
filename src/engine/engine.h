// The four gathering operations. Each takes the full path of its source and the destination
// folder (ending in "/"), writes its log lines, handles its own failures and returns its result
// text (CR LF + the lines it wrote), which no caller needs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "fs/file_system.h"
#include "shared/window.h"

namespace sorvin {

using Path = std::filesystem::path;

class Engine {
public:
    Engine(Window& window, fs::FileSystem& fs) : window_(window), fs_(fs) {}

    std::string FileMove2(const Path& SrcPath, const Path& DstPath);
    std::string FileCopy2(const Path& SrcPath, const Path& DstPath);
    std::string FolderMove2(const Path& SrcPath, const Path& DstPath);
    std::string FolderCopy2(const Path& SrcPath, const Path& DstPath);

private:
    enum class Mode { Move, Copy };
    std::string gatherFile(Mode mode, const Path& src, const Path& dst);
    std::string gatherFolder(Mode mode, const Path& src, const Path& dst);

    enum class Placement { Outside, Same, Inside };
    std::optional<fs::Identity> IdentityOf(const std::string& folder);
    Placement PlaceOf(const std::string& other, const std::string& folder);

    Window& window_;
    fs::FileSystem& fs_;
};

}  // namespace sorvin
