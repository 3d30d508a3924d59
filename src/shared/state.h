// The program-wide state every part of sorvin shares. It lives for the whole program run at
// fixed places, like the window it serves: there is one run at a time and one thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sorvin {

inline constexpr std::string_view kWindowCaption = "Pelkor0.4.2.07";
inline constexpr std::string_view kCrLf = "\r\n";

// 1 asks the running work to stop. A plain 32-bit integer at a fixed address, because the copy
// step polls it through a pointer while a copy runs.
extern std::int32_t CancelFlag;

// The log of the current run, UTF-8, lines joined by CR LF, newest last.
extern std::string LogBuffer;

// What the caption's progress texts name: the file being copied, or "Src-"/"Dst-" + a file name
// while its checksum is computed. Native bytes, like every file name.
extern std::string ProgressLabel;

// The sources of the last accepted drop on the log pane. Entry 0 stays empty; entries 1 to
// DropCount are the dropped paths in drop order.
extern std::vector<std::filesystem::path> DropList;
extern std::int32_t DropCount;

// File names that met a collision and how many serials each has handed out since the last reset.
// A hash table: looking a name up must not cost more as the table grows.
class SerialTable {
public:
    // The serial for the next collision of `name`: 0 for its first, then 1, 2, ... Throws
    // std::overflow_error past 32767, the most a name can hand out between two resets.
    int next(const std::string& name);
    void reset() { counts_.clear(); }

private:
    std::unordered_map<std::string, int> counts_;
};
extern SerialTable NameTable;

}  // namespace sorvin
