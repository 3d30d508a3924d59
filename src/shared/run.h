// What one run works on: the stop flag, which a signal handler must reach and so lives at a
// fixed place, and the Run object that owns everything else a run keeps (its log, its serial
// table, its picture of the destination, its dropped items). A front end keeps one Run and hands
// it by reference to the driver, which hands it to the engine and the candidate walk.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sorvin {

inline constexpr std::string_view kWindowCaption = "Pelkor0.4.2.07";

// The stop flag, polled by the copy step and the checksum while they read. Bit kStopping: the run
// stops (a failure it reported, or a stop it has taken); bit kStopAsked: the user asked for a stop
// (the stop button, Ctrl-C) and the run has not yet taken it. Zero: the run goes on.
inline constexpr std::int32_t kStopping = 1;
inline constexpr std::int32_t kStopAsked = 2;
extern std::atomic<std::int32_t> CancelFlag;
static_assert(std::atomic<std::int32_t>::is_always_lock_free, "the stop flag is set from a signal handler");

// The stop button's press: safe in a signal handler.
inline void AskStop() { CancelFlag.fetch_or(kStopAsked); }

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

// What the run knows of its destination folders: names it has seen occupied, with their sizes.
// It only ever lets the walk skip a name without asking the disk whether it is taken by a file
// of another size; a free or an identical verdict is always taken from the disk itself, so a
// stale entry can never overwrite or delete anything.
class DestinationPicture {
public:
    using Sizes = std::unordered_map<std::string, std::uint64_t>;  // name -> size
    // What is known of one folder; the reference stays valid until the next reset.
    Sizes& folder(const std::string& path) { return folders_[path]; }
    void reset() { folders_.clear(); }

private:
    std::unordered_map<std::string, Sizes> folders_;
};

struct Run {
    // The log of the current run, UTF-8, lines joined by "\n", newest last.
    std::string LogBuffer;
    // Reset at the start of every run and of every folder the walk enters.
    SerialTable NameTable;
    // Reset at the start of every run.
    DestinationPicture RunPicture;
    // The sources of the last accepted drop on the log pane, in drop order.
    std::vector<std::filesystem::path> DropList;

    // Empties the log and forgets any stop taken, for a new run.
    void start();
    // Takes a stop the user asked for: the line the log was writing ends there, once, and the
    // run stops. True when the run is to stop, for whatever reason.
    bool stopped();
    // The run stops itself, after a failure it reported.
    void stop() { CancelFlag.fetch_or(kStopping); }

    // A new log line.
    void addLine(std::string_view line);
    // Text on the line a taken stop ended, or else glued to the last line.
    void continueLine(std::string_view text);
    // The log as it is shown, a taken stop's line end included.
    std::string logText() const { return lineEndPending_ ? LogBuffer + "\n" : LogBuffer; }

    // While the batch of finished moves writes its lines: they go before a taken stop's line
    // end, where they would have stood had they been written at once.
    bool holdStopLineEnd();
    void restoreStopLineEnd(bool held) { lineEndPending_ = lineEndPending_ || held; }

private:
    bool lineEndPending_ = false;  // a taken stop ended the log's line
    bool stopTaken_ = false;       // the user's stop is taken once a run
};

}  // namespace sorvin
