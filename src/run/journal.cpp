#include "run/journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

namespace sorvin::run {

namespace {

namespace stdfs = std::filesystem;

constexpr std::string_view kHeader = "sorvin journal 1";
constexpr std::string_view kOpen = ".journal", kUndone = ".undone";
constexpr std::size_t kKept = 20;
constexpr std::size_t kMostPending = 1u << 20;  // written without waiting for the second to pass
constexpr auto kWriteEvery = std::chrono::seconds(1);

std::string Escaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\t') out += "\\t";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\') out += '\\';
        else if (text[i] == 't') out += '\t';
        else if (text[i] == 'n') out += '\n';
        else return std::nullopt;
    }
    return out;
}

std::string TimeField(const timespec& t)
{
    char nanos[16];
    std::snprintf(nanos, sizeof nanos, ".%09ld", static_cast<long>(t.tv_nsec));
    return std::to_string(static_cast<long long>(t.tv_sec)) + nanos;
}

template <typename T>
bool Number(std::string_view text, T& value, int base = 10)
{
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return err == std::errc() && end == text.data() + text.size();
}

bool TimeFrom(std::string_view text, timespec& t)
{
    const auto dot = text.find('.');
    long long sec = 0;
    long nsec = 0;
    if (dot == std::string_view::npos || text.size() - dot != 10 || !Number(text.substr(0, dot), sec) ||
        !Number(text.substr(dot + 1), nsec))
        return false;
    t = {static_cast<time_t>(sec), nsec};
    return true;
}

// Journal files of the folder, oldest first, both those still open to an undo and those taken back.
std::vector<stdfs::path> JournalFiles(const stdfs::path& folder)
{
    std::vector<stdfs::path> files;
    std::error_code ec;
    for (const auto& e : stdfs::directory_iterator(folder, ec)) {
        const std::string ext = e.path().extension().native();
        if (ext == kOpen || ext == kUndone) files.push_back(e.path());
    }
    std::sort(files.begin(), files.end(), [](const stdfs::path& a, const stdfs::path& b) { return a.stem() < b.stem(); });
    return files;
}

std::string ErrorText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

std::string FormatStep(const Step& s)
{
    char mode[16];
    std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(s.mode));
    std::string line(1, static_cast<char>(s.kind));
    for (const std::string& field : {std::to_string(s.size), std::string(mode), TimeField(s.mtime), std::to_string(s.keptSize),
                                     TimeField(s.keptMtime), Escaped(s.path), Escaped(s.other)}) {
        line += '\t';
        line += field;
    }
    return line;
}

std::optional<Step> ParseStep(const std::string& line)
{
    std::vector<std::string_view> fields;
    std::string_view rest = line;
    for (;;) {
        const auto tab = rest.find('\t');
        fields.push_back(rest.substr(0, tab));
        if (tab == std::string_view::npos) break;
        rest.remove_prefix(tab + 1);
    }
    if (fields.size() != 8 || fields[0].size() != 1 || std::string_view("MCTXDFR").find(fields[0][0]) == std::string_view::npos)
        return std::nullopt;
    Step s;
    s.kind = static_cast<Step::Kind>(fields[0][0]);
    const auto path = Unescaped(fields[6]), other = Unescaped(fields[7]);
    if (!Number(fields[1], s.size) || !Number(fields[2], s.mode, 8) || !TimeFrom(fields[3], s.mtime) ||
        !Number(fields[4], s.keptSize) || !TimeFrom(fields[5], s.keptMtime) || !path || !other || path->empty())
        return std::nullopt;
    s.path = *path;
    s.other = *other;
    return s;
}

stdfs::path JournalFolder()
{
    // The XDG base directory rules take only an absolute $XDG_STATE_HOME.
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/') return stdfs::path(state) / "sorvin";
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return stdfs::path(home) / ".local/state/sorvin";
}

std::optional<Journal> NewestJournal(bool firstStep)
{
    std::vector<stdfs::path> files = JournalFiles(JournalFolder());
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (it->extension() != kOpen) continue;
        std::ifstream in(*it, std::ios::binary);
        std::string line;
        if (!std::getline(in, line) || line != kHeader) continue;
        Journal journal {*it, {}};
        // A line cut short by a crash, or one this version does not know, is passed over.
        while ((!firstStep || journal.steps.empty()) && std::getline(in, line))
            if (auto step = ParseStep(line)) journal.steps.push_back(std::move(*step));
        if (!journal.steps.empty()) return journal;
    }
    return std::nullopt;
}

void MarkUndone(const stdfs::path& file)
{
    stdfs::path undone = file;
    undone.replace_extension(kUndone);
    stdfs::rename(file, undone);
}

JournalingFs::JournalingFs(fs::FileSystem& inner, std::function<void(const std::string&)> failed)
    : inner_(inner), failed_(std::move(failed))
{
}

JournalingFs::~JournalingFs() { endRun(); }

void JournalingFs::endRun()
{
    if (fd_ >= 0) {
        write();
        if (fd_ >= 0) ::close(fd_);
    }
    fd_ = -1;
    broken_ = unsynced_ = named_ = false;
    pending_.clear();
}

void JournalingFs::give(const std::string& why)
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    broken_ = true;
    if (failed_) failed_(why);
}

void JournalingFs::record(const Step& step)
{
    if (broken_) return;
    if (fd_ < 0) {
        // A new run's file, named by the time, after the oldest beyond the kept number are gone.
        const stdfs::path folder = JournalFolder();
        std::error_code ec;
        stdfs::create_directories(folder, ec);
        if (ec) return give(ErrorText(folder.native(), ec.value()));
        std::vector<stdfs::path> files = JournalFiles(folder);
        for (std::size_t i = 0; i + kKept <= files.size(); ++i) stdfs::remove(files[i], ec);
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        char name[64];
        tm utc {};
        gmtime_r(&now.tv_sec, &utc);
        const std::size_t n = std::strftime(name, sizeof name, "%Y%m%dT%H%M%S", &utc);
        std::snprintf(name + n, sizeof name - n, ".%09ldZ", static_cast<long>(now.tv_nsec));
        const stdfs::path file = folder / (std::string(name) + std::string(kOpen));
        fd_ = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0600);
        if (fd_ < 0) return give(ErrorText(file.native(), errno));
        pending_ = std::string(kHeader) + "\n";
        lastWrite_ = std::chrono::steady_clock::now();
    }
    pending_ += FormatStep(step);
    pending_ += '\n';
    if (pending_.size() >= kMostPending) write();
    writeWhenDue();
}

void JournalingFs::writeWhenDue()
{
    if (!pending_.empty() && std::chrono::steady_clock::now() - lastWrite_ >= kWriteEvery) write();
}

void JournalingFs::write()
{
    if (fd_ < 0 || pending_.empty()) return;
    lastWrite_ = std::chrono::steady_clock::now();
    for (std::size_t done = 0; done < pending_.size();) {
        const ssize_t n = ::write(fd_, pending_.data() + done, pending_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return give(ErrorText("write", n < 0 ? errno : ENOSPC));
        done += static_cast<std::size_t>(n);
    }
    pending_.clear();
    unsynced_ = true;
}

void JournalingFs::sync()
{
    write();
    if (fd_ < 0 || !unsynced_) return;
    // The file's name has to outlast a crash as its lines do.
    if (const int dir = named_ ? -1 : ::open(JournalFolder().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        named_ = ::fsync(dir) == 0;
        ::close(dir);
    }
    if (::fdatasync(fd_) != 0) return give(ErrorText("fdatasync", errno));
    unsynced_ = false;
}

std::optional<fs::FileState> JournalingFs::stateOf(const fs::Entry& e)
{
    try {
        return inner_.state(e);
    } catch (const fs::FsError&) {
        return std::nullopt;
    }
}

void JournalingFs::createFolder(const fs::Entry& e)
{
    inner_.createFolder(e);
    record({.kind = Step::Kind::FolderMade, .path = e.path(), .other = {}});
}

void JournalingFs::removeEmptyFolder(const fs::Entry& e, const fs::Folder& opened)
{
    const auto before = stateOf(e);
    inner_.removeEmptyFolder(e, opened);
    record({.kind = Step::Kind::FolderRemoved, .mode = before ? before->mode : 040755, .path = e.path(), .other = {}});
}

void JournalingFs::renameNoReplace(const fs::Entry& from, const fs::Entry& to)
{
    inner_.renameNoReplace(from, to);
    // What cannot be looked at is recorded as a file of no size and no time: an undo then finds
    // it changed and leaves it, rather than trusting a guess.
    const fs::FileState st = stateOf(to).value_or(fs::FileState {});
    record({.kind = Step::Kind::Renamed, .size = st.size, .mode = st.mode, .mtime = st.mtime, .path = from.path(), .other = to.path()});
}

void JournalingFs::deleteFile(const fs::Entry& e)
{
    inner_.deleteFile(e);
    record({.kind = Step::Kind::Deleted, .path = e.path(), .other = {}});
}

bool JournalingFs::deleteDuplicate(const fs::Entry& file, const fs::Entry& keep)
{
    const fs::FileState deleted = stateOf(file).value_or(fs::FileState {});
    const fs::FileState kept = stateOf(keep).value_or(fs::FileState {});
    if (!inner_.deleteDuplicate(file, keep)) return false;
    record({.kind = Step::Kind::Duplicate, .size = deleted.size, .mode = deleted.mode, .mtime = deleted.mtime,
            .keptSize = kept.size, .keptMtime = kept.mtime, .path = file.path(), .other = keep.path()});
    return true;
}

fs::FileState JournalingFs::copyFile(const fs::Entry& from, const fs::Entry& to, const fs::CopyProgress& progress,
                                     const std::atomic<std::int32_t>* cancel, fs::Durability durability)
{
    const fs::FileState st = inner_.copyFile(from, to, [&](std::uint64_t total, std::uint64_t done) {
        progress(total, done);
        writeWhenDue();  // a long copy does not hold back the lines before it
    }, cancel, durability);
    record({.kind = durability == fs::Durability::Normal ? Step::Kind::Copied : Step::Kind::MoveCopied, .size = st.size,
            .mode = st.mode, .mtime = st.mtime, .path = from.path(), .other = to.path()});
    return st;
}

void JournalingFs::makeDurable(const std::vector<fs::Entry>& placed)
{
    inner_.makeDurable(placed);
    // The batch's sources are deleted next: the copies that hold them are on record first.
    sync();
}

}  // namespace sorvin::run
