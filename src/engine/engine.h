// The four gathering operations. Each takes the full path of its source and the destination
// folder (ending in "/"), writes its log lines to the run's log and handles its own failures.
//
// The two paths are followed once, when the operation opens the destination and the folder the
// source lies in; every later step goes through open folders (see fs::Folder), and full paths
// are built only to be shown.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_system.h"
#include "shared/run.h"
#include "shared/window.h"

namespace sorvin {

using Path = std::filesystem::path;

class Engine {
public:
    Engine(Run& run, Window& window, fs::FileSystem& fs) : run_(run), window_(window), fs_(fs) {}
    ~Engine() { closeBatch(); }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    void FileMove2(const Path& SrcPath, const Path& DstPath);
    void FileCopy2(const Path& SrcPath, const Path& DstPath);
    void FolderMove2(const Path& SrcPath, const Path& DstPath);
    void FolderCopy2(const Path& SrcPath, const Path& DstPath);

    // Finishes the moves across file systems whose copies are placed but not yet known to be on
    // the disk: makes them durable together, deletes their sources and writes their lines. Called
    // before any step that needs a source gone or that writes to the log, and at the end of a run.
    void closeBatch();

private:
    void gatherFile(GatherMode mode, const Path& src, const Path& dst);
    void gatherFolder(GatherMode mode, const Path& src, const Path& dst);
    // `name` in `srcFolder`, into `dst`.
    void gatherFile(GatherMode mode, const fs::FolderPtr& srcFolder, const std::string& name, const fs::FolderPtr& dst);
    // The folder `name` in `parent`, shown as `shown`, into `dst`.
    void gatherFolder(GatherMode mode, const fs::FolderPtr& parent, const std::string& name, const std::string& shown,
                             const fs::FolderPtr& dst);

    enum class Placement { Outside, Same, Inside };
    std::optional<fs::Identity> IdentityOf(const fs::Folder& folder);
    Placement PlaceOf(const fs::Folder& other, const fs::Folder& folder);

    // A move across file systems whose copy is placed: its source goes, and its line is written,
    // once the batch's copies are on the disk.
    struct PlacedCopy {
        fs::FolderPtr srcFolder, dstFolder;  // open until the batch is closed
        std::string srcName, targetName, line;
        fs::FileState copied;  // the source as its copy saw it
        std::function<void()> step;  // instead: a step that needs the sources before it gone

        fs::Entry source() const { return {*srcFolder, srcName}; }
        fs::Entry target() const { return {*dstFolder, targetName}; }
    };
    void addToBatch(PlacedCopy copy);
    // Runs `step` once the batch's sources are deleted: now, when no batch is open.
    void afterBatch(std::function<void()> step);
    bool batchPlaced(const fs::Entry& target) const;
    void writeMoveLine(const std::string& line);
    // Tells the user of a failed step of a file's gathering; true when the step after it runs.
    bool reportFileFailure(const std::exception& e, const std::string& src);
    // The same for a folder's step; true when the user was told and the run stops.
    bool reportFolderFailure(const std::exception& e, bool move);
    // Writes a folder's line.
    void writeFolderLine(const std::string& subject, std::string_view marker);
    // A moved folder's removal once its files are gone.
    void removeIfEmptied(const fs::FolderPtr& parent, const std::string& name, const fs::FolderPtr& folder,
                                const std::string& src);

    Run& run_;
    Window& window_;
    fs::FileSystem& fs_;
    std::vector<PlacedCopy> batch_;
    std::uint64_t batchBytes_ = 0;
    std::chrono::steady_clock::time_point batchOpened_;
    bool closing_ = false;
    bool batchStopped_ = false;  // while closing: a failure stops the run after its step
};

}  // namespace sorvin
