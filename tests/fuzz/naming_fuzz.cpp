// Candidate walks against an in-memory destination folder, with names, sizes, links, options and
// changes behind the walk's back all chosen by the fuzzer. Whatever they are, a walk never settles
// on a name that would replace an entry, and a file it takes for the source's duplicate is one.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include "checksum/crc32.h"
#include "engine/naming.h"
#include "fs/names.h"
#include "shared/run.h"
#include "support/recording_window.h"

namespace {

using namespace sorvin;
using fs::Path;

void Require(bool ok, const char* what)
{
    if (ok) return;
    std::fprintf(stderr, "naming_fuzz: %s\n", what);
    std::abort();
}

constexpr std::string_view kDst = "/dst/";

struct Entry {
    fs::EntryType type = fs::EntryType::File;
    bool link = false;
    std::string bytes;  // a file's data, a link's target text
    ino_t ino = 0;
    ino_t linkTo = 0;   // what a link resolves to; 0 when it dangles
};

class MemoryFolder final : public fs::Folder {
public:
    explicit MemoryFolder(std::string path) : Folder(std::move(path)) {}
};

// One source file and one destination folder, answering as posix_fs does: lstat-based, a link is
// a file of its own size, a missing entry throws ENOENT. The walk only looks, so the calls that
// change anything are not expected.
class MemoryFs final : public fs::FileSystem {
public:
    MemoryFolder srcFolder {"/src/"};
    MemoryFolder dstFolder {std::string(kDst)};
    std::string fileName;
    Entry source;
    std::map<std::string, Entry> dst;  // name -> entry
    ino_t nextIno = 1;

    const Entry* find(const fs::Entry& e)
    {
        if (&e.folder == &srcFolder && e.name == fileName) return &source;
        Require(&e.folder == &dstFolder && !e.name.empty() && e.name.find('/') == std::string_view::npos,
                "the walk looked outside the destination folder");
        auto it = dst.find(std::string(e.name));
        return it == dst.end() ? nullptr : &it->second;
    }
    const Entry& at(const fs::Entry& e)
    {
        const Entry* found = find(e);
        if (!found) throw fs::FsError("lstat", ENOENT, e.path());
        return *found;
    }

    fs::EntryType entryType(const fs::Entry& e) override
    {
        const Entry* found = find(e);
        return found ? found->type : fs::EntryType::None;
    }
    std::uint64_t fileSize(const fs::Entry& e) override
    {
        const Entry& found = at(e);
        return found.type == fs::EntryType::Folder ? 4096 : found.bytes.size();
    }
    fs::Identity identity(const fs::Entry& e, bool followLinks) override
    {
        const Entry& found = at(e);
        if (!followLinks || !found.link) return {1, found.ino};
        if (found.linkTo == 0) throw fs::FsError("stat", ENOENT, e.path());
        return {1, found.linkTo};
    }
    std::unique_ptr<fs::Reader> openRead(const fs::Entry& e) override
    {
        const Entry& found = at(e);
        if (found.type == fs::EntryType::Folder) throw fs::FsError("open", EINVAL, e.path());
        return std::make_unique<fs::TextReader>(found.bytes);
    }

    fs::FolderPtr openPath(const Path&) override { Unexpected(); }
    fs::FolderPtr openFolder(const fs::Entry&) override { Unexpected(); }
    bool folderExists(const Path&) override { Unexpected(); }
    fs::Identity identity(const fs::Folder&) override { Unexpected(); }
    bool sameFolderOtherSpelling(const fs::Folder&, const fs::Folder&) override { Unexpected(); }
    fs::Listing list(const fs::Folder&) override { Unexpected(); }
    bool folderIsEmpty(const fs::Folder&) override { Unexpected(); }
    void createFolder(const fs::Entry&) override { Unexpected(); }
    void removeEmptyFolder(const fs::Entry&, const fs::Folder&) override { Unexpected(); }
    void renameNoReplace(const fs::Entry&, const fs::Entry&) override { Unexpected(); }
    void deleteFile(const fs::Entry&) override { Unexpected(); }
    bool unchangedSince(const fs::Entry&, const fs::FileState&) override { Unexpected(); }
    bool deleteDuplicate(const fs::Entry&, const fs::Entry&) override { Unexpected(); }
    fs::FileState copyFile(const fs::Entry&, const fs::Entry&, const fs::CopyProgress&, const std::atomic<std::int32_t>*,
                           fs::Durability) override
    {
        Unexpected();
    }
    void makeDurable(const std::vector<fs::Entry>&) override { Unexpected(); }
    void removeLeftovers(const fs::Folder&) override {}

private:
    [[noreturn]] static void Unexpected()
    {
        Require(false, "the walk went beyond looking at its two folders");
        std::abort();
    }
};

// A name a folder can hold: no "/" or NUL, not "." or "..".
std::string EntryName(std::string text)
{
    std::erase_if(text, [](char c) { return c == '/' || c == '\0'; });
    return text.empty() || text == "." || text == ".." ? "f" + text : text;
}

std::uint32_t Crc(const std::string& bytes) { return Crc32Update(0, bytes.data(), bytes.size()); }

// An entry likely to meet the walk: under the plain name or a serial name, with the source's
// size or its very bytes, or a link back to the source.
void AddEntry(FuzzedDataProvider& in, MemoryFs& fs, const std::string& fileName)
{
    const std::string base = fs::BaseName(fileName), ext = fs::ExtensionName(fileName);
    std::string name;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: name = fileName; break;
    case 1: name = EntryName(in.ConsumeRandomLengthString(12)); break;
    default: name = SerialName(base, ext, in.ConsumeIntegralInRange(0, 40), in.ConsumeBool()); break;
    }
    Entry e;
    e.ino = fs.nextIno++;
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: e.bytes = fs.source.bytes; break;
    case 1:
        e.bytes = fs.source.bytes;
        if (!e.bytes.empty()) e.bytes[in.ConsumeIntegralInRange<std::size_t>(0, e.bytes.size() - 1)] ^= in.ConsumeIntegralInRange(1, 255);
        break;
    default: e.bytes = in.ConsumeRandomLengthString(16); break;
    }
    switch (in.ConsumeIntegralInRange(0, 5)) {
    case 0: e.type = fs::EntryType::Folder; break;
    case 1: e.link = true, e.linkTo = fs.source.ino; break;
    case 2: e.link = true, e.linkTo = in.ConsumeBool() ? fs.nextIno++ : 0; break;
    default: break;
    }
    fs.dst[name] = std::move(e);
}

// Another program at work between two walks: what the run has seen of the folder goes stale.
void Meddle(FuzzedDataProvider& in, MemoryFs& fs, const std::string& fileName)
{
    for (int n = in.ConsumeIntegralInRange(0, 3); n > 0; --n) {
        const int what = in.ConsumeIntegralInRange(0, 2);
        if (what == 0 || fs.dst.empty()) {
            AddEntry(in, fs, fileName);
            continue;
        }
        auto it = std::next(fs.dst.begin(), in.ConsumeIntegralInRange<std::ptrdiff_t>(0, static_cast<std::ptrdiff_t>(fs.dst.size()) - 1));
        if (what == 1) fs.dst.erase(it);
        else it->second.bytes = in.ConsumeRandomLengthString(16);
    }
}

void CheckCandidate(const std::string& c)
{
    Require(!c.empty(), "empty candidate");
    Require(c.find('/') == std::string::npos && c.find('\0') == std::string::npos, "candidate with a slash or NUL");
    Require(c != "." && c != "..", "candidate that names a folder itself");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzedDataProvider in(data, size);
    Run run;
    CancelFlag = 0;

    MemoryFs fs;
    test::RecordingWindow window;
    std::string fileName = EntryName(in.ConsumeRandomLengthString(24));
    fs.source.bytes = in.ConsumeRandomLengthString(16);
    fs.source.ino = fs.nextIno++;
    // A long run may have handed out nearly every serial of a name already.
    if (in.ConsumeIntegralInRange(0, 15) == 15)
        for (int n = in.ConsumeIntegralInRange(32700, 32768); n > 0; --n) run.NameTable.next(fileName);
    for (int n = in.ConsumeIntegralInRange(0, 40); n > 0; --n) AddEntry(in, fs, fileName);

    for (int round = 0; round < 4 && in.remaining_bytes() > 0; ++round) {
        if (round > 0) {
            // The next source: another folder, the same name or a new one, its own data.
            if (in.ConsumeBool()) fileName = EntryName(in.ConsumeRandomLengthString(24));
            fs.source = Entry{};
            fs.source.bytes = in.ConsumeRandomLengthString(16);
            fs.source.ino = fs.nextIno++;
            Meddle(in, fs, fileName);
        }
        fs.fileName = fileName;
        // Sparingly: every checksum of a file allocates and clears a 512 KiB buffer.
        const bool crc = in.ConsumeIntegralInRange(0, 3) == 3;
        window.set(MenuOption::Crc32, crc);
        window.set(MenuOption::Genmitsu, in.ConsumeBool());
        window.set(MenuOption::NumPosition, in.ConsumeBool());
        const bool move = in.ConsumeBool();

        CandidateWalk walk(run, window, fs, fs.srcFolder, fileName, fs.dstFolder, move ? SameFileRule::Content : SameFileRule::SizeOrChecksum);
        for (bool taken = false;; taken = true) {
            WalkOutcome outcome;
            try {
                if (taken) walk.skip();
                outcome = walk.run();
            } catch (const std::overflow_error&) {
                break;  // no serial left for this name: the file stays where it is
            }
            const std::string& c = walk.candidate();
            CheckCandidate(c);
            Require(&walk.target().folder == &fs.dstFolder && walk.target().name == c, "target outside the destination folder");
            Require(outcome != WalkOutcome::Stopped, "stopped without a stop");
            auto there = fs.dst.find(c);
            if (outcome == WalkOutcome::Identical) {
                Require(there != fs.dst.end() && there->second.type == fs::EntryType::File, "duplicate of nothing");
                const Entry& e = there->second;
                Require(e.bytes.size() == fs.source.bytes.size(), "duplicate of another size");
                Require(move || !crc || Crc(e.bytes) == Crc(fs.source.bytes), "duplicate with another checksum");
                Require(!move || e.bytes == fs.source.bytes, "a move's duplicate with other bytes");
                Require(!(e.link && e.linkTo == fs.source.ino), "a link to the source taken for its duplicate");
                break;
            }
            Require(there == fs.dst.end() || there->second.type == fs::EntryType::Folder, "a free name holds a file");
            // The rename or copy refuses a taken name (a folder there, or a file that another
            // program put there just now): the walk goes on from the next name.
            if (there != fs.dst.end() || in.ConsumeBool()) {
                if (there == fs.dst.end()) fs.dst[c] = Entry{fs::EntryType::File, false, in.ConsumeRandomLengthString(16), fs.nextIno++, 0};
                continue;
            }
            fs.dst[c] = Entry{fs::EntryType::File, false, fs.source.bytes, fs.source.ino, 0};
            break;
        }
    }
    return 0;
}
